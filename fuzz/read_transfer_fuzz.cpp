// A download driven by a script of what its client does: ACKs right and wrong, datagrams of any
// bytes and length up to the receive size, ERROR packets, and waits that run out. The harness
// plays the transfer thread around ReadTransfer: it loads blocks from a file held in memory and
// sends what it is told to.
//
// Checks: every packet sent is DATA of 4 to 516 bytes carrying the block counter and exactly
// the file's next bytes, so the client receives the file whole and in order; the next block is
// loaded only after the current one is acknowledged, and only after a full one; a resend sends
// the same packet again; the transfer ends as complete only after the last short block is
// acknowledged and every byte went out; waits that run out end it after exactly `retries`
// resends with no progress between, so no transfer waits forever.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "transfer_script.h"
#include "log/catalogue.h"
#include "tftp/packet.h"
#include "tftp/transfer_logic.h"

using namespace revuzada;

namespace {

// The file's bytes repeat with a period that no block size divides, so a block sent from the
// wrong offset differs from the right one.
constexpr std::size_t kPeriod = 251;
const std::array<std::uint8_t, kPeriod + kTftpBlockSize> kPattern = [] {
    std::array<std::uint8_t, kPeriod + kTftpBlockSize> p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>((i % kPeriod) * 7 + 3);
    return p;
}();

enum class Source { Timeout, Ack, OtherDatagram };

class Harness {
public:
    Harness(int retries, std::size_t fileSize) : retries_(retries), fileSize_(fileSize), transfer_(retries) {
        Load();
    }

    bool ended() const { return ended_; }
    std::uint16_t block() const { return block_; }

    void Timeout() { Apply(transfer_.OnTimeout(), Source::Timeout, 0); }

    void Datagram(std::span<const std::uint8_t> bytes) {
        const auto header = ParseHeader(bytes);
        const bool ack = header && header->opcode == kAck;
        Apply(transfer_.OnDatagram(bytes), ack ? Source::Ack : Source::OtherDatagram,
              ack ? header->block : 0, header && header->opcode == kError);
    }

private:
    // What the thread does for SendNext: read the next block into the packet and send it.
    void Load() {
        const std::size_t n = std::min(kTftpBlockSize, fileSize_ - offset_);
        auto payload = transfer_.Payload();
        FUZZ_CHECK(payload.size() == kTftpBlockSize);
        std::copy_n(kPattern.begin() + offset_ % kPeriod, n, payload.begin());
        transfer_.BlockLoaded(n);
        length_ = n;
        CheckPacket();
        sent_.assign(transfer_.Packet().begin(), transfer_.Packet().end());
    }

    void CheckPacket() const {
        const auto packet = transfer_.Packet();
        FUZZ_CHECK(packet.size() >= 4 && packet.size() <= kTftpMaxPacket);
        FUZZ_CHECK(packet.size() == 4 + length_);
        FUZZ_CHECK(ReadU16(packet.data()) == kData);
        FUZZ_CHECK(ReadU16(packet.data() + 2) == block_);
        FUZZ_CHECK(transfer_.block() == block_);
        FUZZ_CHECK(std::equal(packet.begin() + 4, packet.end(), kPattern.begin() + offset_ % kPeriod));
    }

    void Apply(const Step& step, Source source, std::uint16_t acked, bool peerError = false) {
        using Do = Step::Do;
        const std::uint16_t before = block_;
        switch (step.action) {
        case Do::Wait:
            FUZZ_CHECK(source != Source::Timeout);
            FUZZ_CHECK(step.logId == 0);
            FUZZ_CHECK(!(source == Source::Ack && acked == block_));
            break;
        case Do::Store:
            FUZZ_CHECK(!"a download stores nothing");
            break;
        case Do::Resend:
            if (source == Source::Timeout) {
                FUZZ_CHECK(++silentWaits_ <= retries_);
            } else {
                // Only the previous block acknowledged again, and never while block 0 is out.
                FUZZ_CHECK(source == Source::Ack && block_ != 0 && acked == block_ - 1);
                FUZZ_CHECK(step.logId == IDS_RETRANSMIT && step.drainFirst);
            }
            FUZZ_CHECK(std::equal(sent_.begin(), sent_.end(), transfer_.Packet().begin(),
                                  transfer_.Packet().end()));
            break;
        case Do::SendNext:
            FUZZ_CHECK(source == Source::Ack && acked == block_);
            FUZZ_CHECK(length_ == kTftpBlockSize);
            silentWaits_ = 0;
            offset_ += kTftpBlockSize;
            ++block_;
            Load();
            break;
        case Do::End:
            ended_ = true;
            if (step.logId == IDS_TRANSFER_DONE) {
                FUZZ_CHECK(source == Source::Ack && acked == block_);
                FUZZ_CHECK(length_ < kTftpBlockSize && offset_ + length_ == fileSize_);
            } else if (step.logId == IDS_PEER_ERROR) {
                FUZZ_CHECK(peerError);
            } else {
                FUZZ_CHECK(step.logId == IDS_TRANSFER_TIMEOUT);
                FUZZ_CHECK(source == Source::Timeout && silentWaits_ == retries_);
            }
            break;
        }
        // The converse: the outstanding block acknowledged moves on, the one before resends.
        if (source == Source::Ack && acked == before)
            FUZZ_CHECK(step.action == Do::SendNext || step.logId == IDS_TRANSFER_DONE);
        if (source == Source::Ack && before != 0 && acked == before - 1)
            FUZZ_CHECK(step.action == Do::Resend);
    }

    int retries_;
    std::size_t fileSize_;
    ReadTransfer transfer_;
    std::size_t offset_ = 0;   // of the block outstanding
    std::size_t length_ = 0;   // its bytes
    std::uint16_t block_ = 1;  // its number
    int silentWaits_ = 0;
    bool ended_ = false;
    std::vector<std::uint8_t> sent_;
};

std::vector<std::uint8_t> Ack(std::uint16_t block, std::size_t trailing = 0) {
    std::vector<std::uint8_t> packet(4 + trailing, 0);
    WriteU16(packet.data(), kAck);
    WriteU16(packet.data() + 2, block);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int retries = in.ConsumeIntegralInRange(0, 5);
    // A few blocks, a little past the 16-bit block counter's wrap, or anything up to there.
    std::size_t fileSize = 0;
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0: fileSize = in.ConsumeIntegralInRange<std::size_t>(0, 4 * kTftpBlockSize); break;
    case 1: fileSize = in.ConsumeIntegralInRange<std::size_t>(65534 * kTftpBlockSize, 65540 * kTftpBlockSize); break;
    case 2: fileSize = in.ConsumeIntegralInRange<std::size_t>(0, 65540 * kTftpBlockSize); break;
    }
    Harness h(retries, fileSize);
    while (!h.ended() && in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 6)) {
        case 0:
            h.Timeout();
            break;
        case 1:
            h.Datagram(Ack(h.block()));
            break;
        case 2: {  // an ACK near the right one, perhaps with bytes after it
            const auto delta = in.ConsumeIntegral<std::int8_t>();
            h.Datagram(Ack(static_cast<std::uint16_t>(h.block() + delta), in.ConsumeIntegralInRange(0, 3)));
            break;
        }
        case 3:  // anything the receive can deliver
            h.Datagram(fuzz::AnyDatagram(in));
            break;
        case 4:
            h.Datagram(fuzz::ErrorDatagram(in));
            break;
        case 5:    // a well-behaved client for a few blocks
        case 6: {  // ... or on to a few blocks either side of the counter's wrap
            std::uint8_t ack[4] = {0, kAck, 0, 0};
            const bool toWrap = in.ConsumeBool();
            const auto stop = static_cast<std::uint16_t>(65533 + in.ConsumeIntegralInRange(0, 6));
            for (int n = toWrap ? 70000 : in.ConsumeIntegralInRange(1, 16); n > 0 && !h.ended(); --n) {
                if (toWrap && h.block() == stop) break;
                WriteU16(ack + 2, h.block());
                h.Datagram(ack);
            }
            break;
        }
        }
    }
    return 0;
}
