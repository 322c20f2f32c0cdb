#include <gtest/gtest.h>

#include <vector>

#include "log/catalogue.h"
#include "tftp/packet.h"
#include "tftp/transfer_logic.h"

namespace revuzada {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Do = Step::Do;

Bytes Packet(std::uint16_t opcode, std::uint16_t block, std::size_t payload = 0) {
    Bytes b(4 + payload, 0xAB);
    WriteU16(b.data(), opcode);
    WriteU16(b.data() + 2, block);
    return b;
}

// A download with block `block` outstanding, its data `n` bytes long.
ReadTransfer ReadingBlock(std::uint16_t block, std::size_t n = 512) {
    ReadTransfer t(3);
    for (std::uint16_t b = 1; b != block; ++b) {
        t.BlockLoaded(512);
        EXPECT_EQ(t.OnDatagram(Packet(kAck, b)).action, Do::SendNext);
    }
    t.BlockLoaded(n);
    return t;
}

TEST(ReadTransfer, AnswersEachDatagramWhileABlockIsOutstanding) {
    struct Case {
        const char* what;
        std::uint16_t outstanding;
        Bytes datagram;
        Do action;
        bool drain;
        int log;
    };
    const Case cases[] = {
        {"ACK k advances", 5, Packet(kAck, 5), Do::SendNext, false, 0},
        {"ACK k-1 drains and resends", 5, Packet(kAck, 4), Do::Resend, true, IDS_RETRANSMIT},
        {"ACK k+1 drains and waits", 5, Packet(kAck, 6), Do::Wait, true, 0},
        {"ACK k-2 drains and waits", 5, Packet(kAck, 3), Do::Wait, true, 0},
        {"ACK 0 while block 1 is out", 1, Packet(kAck, 0), Do::Resend, true, IDS_RETRANSMIT},
        {"ACK 65535 while block 0 is out", 0, Packet(kAck, 65535), Do::Wait, true, 0},
        {"ACK 0 while block 0 is out", 0, Packet(kAck, 0), Do::SendNext, false, 0},
        {"ACK 65534 while block 65535 is out", 65535, Packet(kAck, 65534), Do::Resend, true, IDS_RETRANSMIT},
        {"a 3-byte datagram", 5, Bytes{0, 4, 0}, Do::Wait, false, 0},
        {"an empty datagram", 5, Bytes{}, Do::Wait, false, 0},
        {"DATA", 5, Packet(kData, 5, 10), Do::Wait, false, 0},
        {"a new request", 5, Bytes{0, 1, 'a', 0, 'o', 0}, Do::Wait, false, 0},
        {"ERROR", 5, Packet(kError, 0, 3), Do::End, false, IDS_PEER_ERROR},
        {"ACK with trailing bytes", 5, Packet(kAck, 5, 100), Do::SendNext, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadTransfer t(3);
        // Reaching block 0 takes 65536 blocks; a counter set by loading is quicker to read.
        if (c.outstanding > 10 || c.outstanding == 0) {
            for (std::uint32_t b = 1; b != c.outstanding + (c.outstanding == 0 ? 65536u : 0u); ++b) {
                t.BlockLoaded(512);
                ASSERT_EQ(t.OnDatagram(Packet(kAck, static_cast<std::uint16_t>(b))).action, Do::SendNext);
            }
            t.BlockLoaded(512);
        } else {
            t = ReadingBlock(c.outstanding);
        }
        ASSERT_EQ(t.block(), c.outstanding);
        const Step step = t.OnDatagram(c.datagram);
        EXPECT_EQ(step.action, c.action);
        EXPECT_EQ(step.drainFirst, c.drain);
        EXPECT_EQ(step.logId, c.log);
    }
}

TEST(ReadTransfer, DataPacketsAndTheLastShortBlock) {
    struct Case { std::size_t fileSize; std::vector<std::size_t> packets; };
    const Case cases[] = {{0, {4}}, {512, {516, 4}}, {1000, {516, 492}}, {1024, {516, 516, 4}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileSize);
        ReadTransfer t(3);
        std::size_t left = c.fileSize;
        for (std::size_t i = 0; i < c.packets.size(); ++i) {
            const std::size_t n = std::min<std::size_t>(left, 512);
            left -= n;
            t.BlockLoaded(n);
            const auto packet = t.Packet();
            ASSERT_EQ(packet.size(), c.packets[i]);
            EXPECT_EQ(ReadU16(packet.data()), kData);
            EXPECT_EQ(ReadU16(packet.data() + 2), i + 1);
            const Step step = t.OnDatagram(Packet(kAck, static_cast<std::uint16_t>(i + 1)));
            const bool last = i + 1 == c.packets.size();
            EXPECT_EQ(step.action, last ? Do::End : Do::SendNext);
            EXPECT_EQ(step.logId, last ? IDS_TRANSFER_DONE : 0);
        }
    }
}

TEST(ReadTransfer, ResendIsTheSamePacketByteForByte) {
    ReadTransfer t = ReadingBlock(3, 300);
    for (std::size_t i = 0; i < 300; ++i) t.Payload()[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes before(t.Packet().begin(), t.Packet().end());
    ASSERT_EQ(t.OnDatagram(Packet(kAck, 2)).action, Do::Resend);
    EXPECT_EQ(Bytes(t.Packet().begin(), t.Packet().end()), before);
}

TEST(Patience, ResendsOnTimeoutsThenGivesUpAndProgressRenewsIt) {
    ReadTransfer t = ReadingBlock(2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(t.OnTimeout().action, Do::Resend);
    const Step last = t.OnTimeout();
    EXPECT_EQ(last.action, Do::End);
    EXPECT_EQ(last.logId, IDS_TRANSFER_TIMEOUT);

    ReadTransfer u = ReadingBlock(2);
    EXPECT_EQ(u.OnTimeout().action, Do::Resend);
    EXPECT_EQ(u.OnTimeout().action, Do::Resend);
    ASSERT_EQ(u.OnDatagram(Packet(kAck, 2)).action, Do::SendNext);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(u.OnTimeout().action, Do::Resend);

    EXPECT_EQ(Patience(0).OnTimeout().action, Do::End);
}

TEST(WriteTransfer, AnswersEachDatagramWhileWaitingForABlock) {
    struct Case { const char* what; Bytes datagram; Do action; int log; };
    // Waiting for block 3: blocks 1 and 2 are stored and acknowledged.
    const Case cases[] = {
        {"the expected block is stored", Packet(kData, 3, 512), Do::Store, 0},
        {"the previous block is acknowledged again", Packet(kData, 2, 512), Do::Resend, 0},
        {"an older block is ignored", Packet(kData, 1, 512), Do::Wait, 0},
        {"a later block is ignored", Packet(kData, 4, 512), Do::Wait, 0},
        {"ERROR ends the upload", Packet(kError, 3, 5), Do::End, IDS_PEER_ERROR},
        {"ACK is ignored", Packet(kAck, 3), Do::Wait, 0},
        {"a request is ignored", Bytes{0, 2, 'x', 0, 'o', 0}, Do::Wait, 0},
        {"a 3-byte datagram is ignored", Bytes{0, 3, 0}, Do::Wait, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteTransfer t(3);
        for (std::uint16_t b = 1; b <= 2; ++b) {
            ASSERT_EQ(t.OnDatagram(Packet(kData, b, 512)).action, Do::Store);
            ASSERT_EQ(t.BlockStored().action, Do::SendNext);
        }
        const Step step = t.OnDatagram(c.datagram);
        EXPECT_EQ(step.action, c.action);
        EXPECT_EQ(step.logId, c.log);
        EXPECT_EQ(ReadU16(t.Ack().data() + 2), 2) << "the last ACK stays the one to resend";
    }
}

TEST(WriteTransfer, AcknowledgesFromZeroAndEndsAfterTheShortBlock) {
    WriteTransfer t(3);
    EXPECT_EQ(Bytes(t.Ack().begin(), t.Ack().end()), (Bytes{0, 4, 0, 0}));
    ASSERT_EQ(t.OnDatagram(Packet(kData, 1, 512)).action, Do::Store);
    EXPECT_EQ(t.BlockStored().action, Do::SendNext);
    EXPECT_EQ(Bytes(t.Ack().begin(), t.Ack().end()), (Bytes{0, 4, 0, 1}));
    ASSERT_EQ(t.OnDatagram(Packet(kData, 2, 0)).action, Do::Store);
    const Step done = t.BlockStored();
    EXPECT_EQ(done.action, Do::End);
    EXPECT_EQ(done.logId, IDS_TRANSFER_DONE);
    EXPECT_EQ(Bytes(t.Ack().begin(), t.Ack().end()), (Bytes{0, 4, 0, 2}));
}

TEST(WriteTransfer, BlockNumbersWrapAfter65535) {
    WriteTransfer t(3);
    for (std::uint32_t b = 1; b <= 65536; ++b) {
        const auto block = static_cast<std::uint16_t>(b);
        ASSERT_EQ(t.OnDatagram(Packet(kData, block, 512)).action, Do::Store) << b;
        ASSERT_EQ(t.BlockStored().action, Do::SendNext);
        ASSERT_EQ(ReadU16(t.Ack().data() + 2), block);
    }
    EXPECT_EQ(t.expected(), 1);
    EXPECT_EQ(t.OnDatagram(Packet(kData, 0, 512)).action, Do::Resend);  // block 65536 again
}

TEST(ParseRequest, ReadsOpcodeAndNameWithinTheReceivedBytes) {
    auto parse = [](std::string bytes) {
        return ParseRequest({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
    };
    using K = ParsedRequest::Kind;
    EXPECT_EQ(parse(std::string("\0\1file.bin\0octet\0", 17)).kind, K::Ok);
    EXPECT_EQ(parse(std::string("\0\1file.bin\0octet\0", 17)).name, "file.bin");
    EXPECT_EQ(parse(std::string("\0\2up\0", 5)).name, "up");
    EXPECT_EQ(parse(std::string("\0\1\0", 3)).name, "");
    EXPECT_EQ(parse(std::string("\0\1", 2)).kind, K::Unterminated);
    EXPECT_EQ(parse(std::string("\0\1no-zero", 9)).kind, K::Unterminated);
    EXPECT_EQ(parse(std::string("\0", 1)).kind, K::TooShort);
    EXPECT_EQ(parse("").kind, K::TooShort);
    const auto other = parse(std::string("\xFF\xFFxx", 4));
    EXPECT_EQ(other.kind, K::OtherOpcode);
    EXPECT_EQ(other.opcode, -1);
    EXPECT_EQ(parse(std::string("\0\4\0\1", 4)).opcode, 4);
}

TEST(ServedRelativePath, RefusesEveryDotDotComponent) {
    const char* refused[] = {"..", "../etc/passwd", "a/../../x", "sub/../x", "..\\x",
                             "a\\..\\b", "/..", "x/.."};
    for (const char* name : refused) EXPECT_FALSE(ServedRelativePath(name)) << name;
    struct Ok { const char* name; const char* path; };
    const Ok allowed[] = {{"file.bin", "file.bin"},   {"sub\\dir\\f", "sub/dir/f"},
                          {"/etc/passwd", "/etc/passwd"}, {"...", "..."},
                          {"..a/b..", "..a/b.."},       {"./x", "./x"},
                          {"", ""}};
    for (const Ok& ok : allowed) EXPECT_EQ(ServedRelativePath(ok.name), ok.path) << ok.name;
}

}  // namespace
}  // namespace revuzada
