// An upload driven by a script of what its client does: the right DATA block, blocks before and
// after it, datagrams of any bytes and length up to the receive size, ERROR packets, and waits
// that run out. The harness plays the transfer thread around WriteTransfer: it stores what it
// is told to store and sends the ACK it is told to send.
//
// Checks: only DATA of at least 4 bytes carrying the expected block is stored, so blocks are
// stored once each, in order, from 1 on (the counter wrapping after 65535), and the stored
// bytes are exactly the datagram's after its header; every ACK sent is 4 bytes naming the last
// block stored (0 before any); a resend sends the same ACK again; the upload ends as complete
// right after the first short block is stored, and on silence after exactly `retries` resends
// with no block stored between.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
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

enum class Source { Timeout, Datagram };

class Harness {
public:
    explicit Harness(int retries) : retries_(retries), transfer_(retries) { CheckAck(); }

    bool ended() const { return ended_; }
    std::uint16_t expected() const { return expected_; }

    void Timeout() { Apply(transfer_.OnTimeout(), Source::Timeout, {}); }
    void Datagram(std::span<const std::uint8_t> bytes) {
        FUZZ_CHECK(bytes.size() <= kTftpMaxPacket);
        Apply(transfer_.OnDatagram(bytes), Source::Datagram, bytes);
    }

private:
    void CheckAck() const {
        const auto ack = transfer_.Ack();
        FUZZ_CHECK(ack.size() == 4);
        FUZZ_CHECK(ReadU16(ack.data()) == kAck);
        FUZZ_CHECK(ReadU16(ack.data() + 2) == static_cast<std::uint16_t>(expected_ - 1));
        FUZZ_CHECK(transfer_.expected() == expected_);
    }

    void Apply(const Step& step, Source source, std::span<const std::uint8_t> bytes) {
        using Do = Step::Do;
        const auto header = ParseHeader(bytes);
        const bool data = source == Source::Datagram && header && header->opcode == kData;
        const std::uint16_t before = expected_;
        switch (step.action) {
        case Do::Wait:
            FUZZ_CHECK(source == Source::Datagram && step.logId == 0);
            FUZZ_CHECK(!(data && header->block == expected_));
            break;
        case Do::SendNext:
            FUZZ_CHECK(!"only a stored block moves the upload on");
            break;
        case Do::Resend:
            if (source == Source::Timeout) FUZZ_CHECK(++silentWaits_ <= retries_);
            else FUZZ_CHECK(data && header->block == static_cast<std::uint16_t>(expected_ - 1));
            CheckAck();
            break;
        case Do::Store: {
            // What the thread writes: the bytes after a 4-byte header of this very datagram.
            FUZZ_CHECK(data && bytes.size() >= 4 && header->block == expected_);
            const std::size_t payload = bytes.size() - 4;
            FUZZ_CHECK(payload <= kTftpBlockSize);
            const Step after = transfer_.BlockStored();
            ++expected_;
            silentWaits_ = 0;
            CheckAck();
            if (payload < kTftpBlockSize) {
                FUZZ_CHECK(after.action == Do::End && after.logId == IDS_TRANSFER_DONE);
                ended_ = true;
            } else {
                FUZZ_CHECK(after.action == Do::SendNext && after.logId == 0);
            }
            break;
        }
        case Do::End:
            ended_ = true;
            if (step.logId == IDS_PEER_ERROR) {
                FUZZ_CHECK(source == Source::Datagram && header && header->opcode == kError);
            } else {
                FUZZ_CHECK(step.logId == IDS_TRANSFER_TIMEOUT);
                FUZZ_CHECK(source == Source::Timeout && silentWaits_ == retries_);
            }
            break;
        }
        // The converse: the expected block is always stored, the one before always answered.
        if (data && header->block == before) FUZZ_CHECK(step.action == Do::Store);
        if (data && header->block == static_cast<std::uint16_t>(before - 1))
            FUZZ_CHECK(step.action == Do::Resend);
    }

    int retries_;
    WriteTransfer transfer_;
    std::uint16_t expected_ = 1;
    int silentWaits_ = 0;
    bool ended_ = false;
};

std::vector<std::uint8_t> Data(std::uint16_t block, std::size_t length, FuzzedDataProvider& in) {
    std::vector<std::uint8_t> packet = in.ConsumeBytes<std::uint8_t>(length);
    packet.resize(length, 0x5A);
    packet.insert(packet.begin(), {0, kData, 0, 0});
    WriteU16(packet.data() + 2, block);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    Harness h(in.ConsumeIntegralInRange(0, 5));
    while (!h.ended() && in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            h.Timeout();
            break;
        case 1:  // the expected block, full or short
            h.Datagram(Data(h.expected(), in.ConsumeBool() ? kTftpBlockSize
                                                           : in.ConsumeIntegralInRange<std::size_t>(0, kTftpBlockSize),
                            in));
            break;
        case 2: {  // a block near the expected one
            const auto delta = in.ConsumeIntegral<std::int8_t>();
            h.Datagram(Data(static_cast<std::uint16_t>(h.expected() + delta),
                            in.ConsumeIntegralInRange<std::size_t>(0, kTftpBlockSize), in));
            break;
        }
        case 3:  // anything the receive can deliver
            h.Datagram(fuzz::AnyDatagram(in));
            break;
        case 4:
            h.Datagram(fuzz::ErrorDatagram(in));
            break;
        case 5: {  // a well-behaved client for a few blocks, or on to a few either side of the counter's wrap
            std::vector<std::uint8_t> full(4 + kTftpBlockSize, 0x33);
            WriteU16(full.data(), kData);
            const bool toWrap = in.ConsumeBool();
            const auto stop = static_cast<std::uint16_t>(65533 + in.ConsumeIntegralInRange(0, 6));
            for (int n = toWrap ? 70000 : in.ConsumeIntegralInRange(1, 16); n > 0 && !h.ended(); --n) {
                if (toWrap && h.expected() == stop) break;
                WriteU16(full.data() + 2, h.expected());
                h.Datagram(full);
            }
            break;
        }
        }
    }
    return 0;
}
