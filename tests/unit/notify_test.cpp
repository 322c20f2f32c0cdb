// The notification service's decisions (no socket), and HandleNotify over loopback.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <future>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "log/catalogue.h"
#include "log/log.h"
#include "notify/handler.h"
#include "notify/packet.h"
#include "pack/language_pack.h"
#include "support/server_process.h"
#include "tftp/udp.h"

namespace revuzada {
namespace {

using test::TempDir;
using test::WriteFile;
using Bytes = std::vector<std::uint8_t>;

// Short texts that show every argument, so a line says exactly what was passed. A pack is kept
// for the rest of the process once installed, so each test installs one, with its own changes.
void InstallNotifyTexts(const std::map<int, std::string>& changes) {
    LanguagePack pack;
    pack.strings[IDS_NOTIFY_TYPE0] = "T0 %s";
    pack.strings[IDS_NOTIFY_TYPE1] = "T1 %s";
    pack.strings[IDS_NOTIFY_TYPE2] = "T2 %s";
    pack.strings[IDS_NOTIFY_TYPE6] = "T6 %s";
    pack.strings[IDS_NOTIFY_TYPE7] = "T7 %s";
    pack.strings[IDS_NOTIFY_TYPE8] = "T8 %s %d";
    pack.strings[IDS_NOTIFY_TYPE9] = "T9 %s %d";
    pack.strings[IDS_NOTIFY_OTHER] = "OTHER %s type=%u value=%d";
    pack.strings[IDS_NOTIFY_BAD_MAGIC] = "BAD MAGIC";
    pack.strings[IDS_RECVFROM_FAILED] = "RECV FAILED %d";
    for (const auto& [id, text] : changes) pack.strings[id] = text;
    InstallLanguagePack(pack);
}

// magic, then 8 bytes of type and value exactly as a device would put them on the wire, then
// the reserved bytes.
Bytes Datagram(std::initializer_list<std::uint8_t> typeAndValue, std::uint8_t reservedFill = 0,
               std::initializer_list<std::uint8_t> magic = {'N', 'Q', 'V', 'Z'}) {
    Bytes d(magic);
    d.insert(d.end(), typeAndValue);
    d.resize(20, reservedFill);
    return d;
}

const Bytes kFound = {'N', 'Q', 'V', 'Z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kNotFound(20, 0);

Bytes ReplyOf(const NotifyAction& action) {
    return action.reply ? Bytes(action.reply->begin(), action.reply->end()) : Bytes{};
}

class NotifyDecision : public ::testing::Test {
protected:
    void SetUp() override {
        InstallNotifyTexts(textChanges);
        std::filesystem::create_directory(programDir());
        std::filesystem::create_directory(servedDir());
    }
    std::filesystem::path programDir() const { return dir.path() / "program"; }
    std::filesystem::path servedDir() const { return dir.path() / "served"; }
    std::string imagePath() const { return (programDir() / kImageFileName).string(); }
    NotifyAction Decide(const Bytes& d, const char* sender = "192.0.2.7") {
        return DecideNotify(d, sender, imagePath());
    }

    TempDir dir;
    std::map<int, std::string> textChanges;  // set before SetUp
};

struct TypeRow {
    const char* what;
    Bytes datagram;
    std::string line;  // for sender 192.0.2.7
};

TEST_F(NotifyDecision, EveryTypeGivesItsLineAndOnlyTypeZeroIsAnswered) {
    const TypeRow rows[] = {
        {"query", Datagram({0, 0, 0, 0, 0x2A, 0, 0, 0}), "T0 192.0.2.7"},
        {"type 1", Datagram({1, 0, 0, 0, 5, 0, 0, 0}), "T1 192.0.2.7"},
        {"type 2", Datagram({2, 0, 0, 0, 0, 0, 0, 0}), "T2 192.0.2.7"},
        {"type 6", Datagram({6, 0, 0, 0, 0, 0, 0, 0}), "T6 192.0.2.7"},
        {"type 7", Datagram({7, 0, 0, 0, 0, 0, 0, 0}), "T7 192.0.2.7"},
        {"type 8, value 42", Datagram({8, 0, 0, 0, 0x2A, 0, 0, 0}), "T8 192.0.2.7 42"},
        {"type 8, value -2", Datagram({8, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}), "T8 192.0.2.7 -2"},
        {"type 9, lowest value", Datagram({9, 0, 0, 0, 0, 0, 0, 0x80}), "T9 192.0.2.7 -2147483648"},
        {"type 9, value 0x01020304", Datagram({9, 0, 0, 0, 4, 3, 2, 1}), "T9 192.0.2.7 16909060"},
        {"type 3", Datagram({3, 0, 0, 0, 7, 0, 0, 0}), "OTHER 192.0.2.7 type=3 value=7"},
        {"type 4", Datagram({4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), "OTHER 192.0.2.7 type=4 value=-1"},
        {"type 5", Datagram({5, 0, 0, 0, 0, 0, 0, 0}), "OTHER 192.0.2.7 type=5 value=0"},
        {"type 10", Datagram({10, 0, 0, 0, 1, 0, 0, 0}), "OTHER 192.0.2.7 type=10 value=1"},
        {"type 256 (not type 0)", Datagram({0, 1, 0, 0, 0, 0, 0, 0}), "OTHER 192.0.2.7 type=256 value=0"},
        {"all 32 type bits set", Datagram({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
         "OTHER 192.0.2.7 type=4294967295 value=-1"},
        {"top type bit set", Datagram({0, 0, 0, 0x80, 0, 0, 0, 0}), "OTHER 192.0.2.7 type=2147483648 value=0"},
        {"type 1 in network order", Datagram({0, 0, 0, 1, 0, 0, 0, 0}), "OTHER 192.0.2.7 type=16777216 value=0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const NotifyAction action = Decide(row.datagram);
        EXPECT_EQ(action.logText, row.line);
        if (row.line.starts_with("T0 ")) {
            EXPECT_EQ(ReplyOf(action), kNotFound);
        } else {
            EXPECT_FALSE(action.reply);
        }
    }
}

TEST_F(NotifyDecision, QueryAnswerSaysWhetherTheImageOpensBesideTheProgram) {
    const Bytes query = Datagram({0, 0, 0, 0, 0, 0, 0, 0});
    struct Case {
        const char* what;
        std::function<void()> arrange;
        Bytes reply;
    };
    const Case cases[] = {
        {"absent", [] {}, kNotFound},
        {"beside the program", [&] { WriteFile(programDir() / kImageFileName, "image"); }, kFound},
        {"empty file beside the program", [&] { WriteFile(programDir() / kImageFileName, ""); }, kFound},
        {"only in the served directory", [&] { WriteFile(servedDir() / kImageFileName, "image"); }, kNotFound},
        {"a directory of that name", [&] { std::filesystem::create_directory(programDir() / kImageFileName); },
         kNotFound},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(programDir() / kImageFileName);
        std::filesystem::remove_all(servedDir() / kImageFileName);
        c.arrange();
        const NotifyAction action = Decide(query, "10.0.0.1");
        EXPECT_EQ(ReplyOf(action), c.reply);
        EXPECT_EQ(action.logText, "T0 10.0.0.1");  // the same line either way
    }
}

// Opening a FIFO for reading waits for a writer; the listener must never wait on the image.
TEST_F(NotifyDecision, FifoInPlaceOfTheImageNeitherBlocksNorCounts) {
    ASSERT_EQ(::mkfifo(imagePath().c_str(), 0600), 0);
    auto decided = std::async(std::launch::async, [&] { return Decide(Datagram({0, 0, 0, 0, 0, 0, 0, 0})); });
    if (decided.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
        // Let the stuck open go, so that the test ends either way.
        const int writer = ::open(imagePath().c_str(), O_WRONLY | O_NONBLOCK);
        decided.wait();
        if (writer >= 0) ::close(writer);
        FAIL() << "the image test waited on a FIFO";
    }
    EXPECT_EQ(ReplyOf(decided.get()), kNotFound);
}

TEST_F(NotifyDecision, UnreadableImageIsAnsweredAsAbsent) {
    if (::geteuid() == 0) GTEST_SKIP() << "root opens any file";
    WriteFile(imagePath(), "image");
    std::filesystem::permissions(imagePath(), std::filesystem::perms::none);
    EXPECT_EQ(ReplyOf(Decide(Datagram({0, 0, 0, 0, 0, 0, 0, 0}))), kNotFound);
}

TEST_F(NotifyDecision, ReservedBytesChangeNothingAndAreNeverEchoed) {
    WriteFile(imagePath(), "image");
    for (std::uint8_t fill : {0x00, 0x01, 0x25, 0xFF}) {
        SCOPED_TRACE(fill);
        const NotifyAction query = Decide(Datagram({0, 0, 0, 0, 0, 0, 0, 0}, fill));
        EXPECT_EQ(ReplyOf(query), kFound);
        EXPECT_EQ(query.logText, "T0 192.0.2.7");
        EXPECT_EQ(Decide(Datagram({8, 0, 0, 0, 3, 0, 0, 0}, fill)).logText, "T8 192.0.2.7 3");
    }
}

TEST_F(NotifyDecision, WhatIsNotANotificationIsLoggedAndNeverAnswered) {
    WriteFile(imagePath(), "image");  // a query that got through would be answered
    const Bytes query = Datagram({0, 0, 0, 0, 0, 0, 0, 0});
    Bytes oversized = query;
    oversized.push_back(0);
    struct Row {
        const char* what;
        Bytes datagram;
        std::string line;
    };
    const Row rows[] = {
        {"magic reversed", Datagram({0, 0, 0, 0, 0, 0, 0, 0}, 0, {'Z', 'V', 'Q', 'N'}), "BAD MAGIC"},
        {"magic in lower case", Datagram({0, 0, 0, 0, 0, 0, 0, 0}, 0, {'n', 'q', 'v', 'z'}), "BAD MAGIC"},
        {"magic as a number in network order", Datagram({0, 0, 0, 0, 0, 0, 0, 0}, 0, {0x5A, 0x56, 0x51, 0x4E}),
         "BAD MAGIC"},
        {"zero magic", kNotFound, "BAD MAGIC"},
        {"empty", Bytes{}, "BAD MAGIC"},
        {"magic alone", Bytes(query.begin(), query.begin() + 4), "BAD MAGIC"},
        {"11 bytes of a query", Bytes(query.begin(), query.begin() + 11), "BAD MAGIC"},
        {"a query with one byte more", oversized, "RECV FAILED " + std::to_string(EMSGSIZE)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const NotifyAction action = Decide(row.datagram);
        EXPECT_FALSE(action.reply);
        EXPECT_EQ(action.logText, row.line);
    }
}

TEST_F(NotifyDecision, TwelveToTwentyBytesAreReadAlike) {
    WriteFile(imagePath(), "image");
    const Bytes query = Datagram({0, 0, 0, 0, 0, 0, 0, 0}, 0xAA);
    const Bytes type9 = Datagram({9, 0, 0, 0, 0x10, 0x27, 0, 0}, 0xAA);
    for (std::size_t length = 12; length <= 20; ++length) {
        SCOPED_TRACE(length);
        const NotifyAction answered = Decide(Bytes(query.begin(), query.begin() + length));
        EXPECT_EQ(ReplyOf(answered), kFound);
        EXPECT_EQ(answered.logText, "T0 192.0.2.7");
        EXPECT_EQ(Decide(Bytes(type9.begin(), type9.begin() + length)).logText, "T9 192.0.2.7 10000");
    }
}

// The listener hands over exactly the bytes it received, from a buffer that held an earlier,
// complete query: a short datagram never borrows its missing bytes from there.
TEST_F(NotifyDecision, ShortDatagramNeverUsesBytesPastItsEnd) {
    WriteFile(imagePath(), "image");
    const Bytes earlier = Datagram({0, 0, 0, 0, 0, 0, 0, 0});
    for (std::size_t length = 0; length < 12; ++length) {
        SCOPED_TRACE(length);
        const NotifyAction action =
            DecideNotify(std::span<const std::uint8_t>(earlier.data(), length), "192.0.2.7", imagePath());
        EXPECT_FALSE(action.reply);
        EXPECT_EQ(action.logText, "BAD MAGIC");
    }
}

TEST(NotifyPacketTest, WritesLittleEndianWhateverTheHost) {
    NotifyPacket p;
    p.magic = kNotifyMagic;
    p.type = 0x01020304;
    p.value = -2;
    p.reserved = {1, 2, 3, 4, 5, 6, 7, 8};
    const NotifyBytes bytes = WriteNotifyPacket(p);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()),
              (Bytes{'N', 'Q', 'V', 'Z', 4, 3, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8}));
    // Read back from an odd address, as a datagram in a byte buffer may sit anywhere.
    Bytes shifted(1, 0);
    shifted.insert(shifted.end(), bytes.begin(), bytes.end());
    const auto back = ReadNotifyPacket(std::span<const std::uint8_t>(shifted).subspan(1));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->HasMagic());
    EXPECT_EQ(back->type, 0x01020304u);
    EXPECT_EQ(back->value, -2);
    EXPECT_EQ(back->reserved, p.reserved);
}

// Random datagrams of every length around the valid range: nothing but a query of 12 to 20
// bytes with the magic is ever answered, a reply is one of the two known forms, and every
// datagram gives exactly one non-empty line. Run under the sanitizers, this also shows that no
// length makes the decision read outside the bytes it was given.
TEST_F(NotifyDecision, RandomDatagramsOnlyEverAnswerQueries) {
    WriteFile(imagePath(), "image");
    std::mt19937 rng(20240105);
    for (int i = 0; i < 20000; ++i) {
        const std::size_t length = rng() % 40;
        Bytes d(length);
        for (auto& b : d) b = static_cast<std::uint8_t>(rng());
        // Most datagrams carry the magic and a small type, so that every branch is reached.
        if (length >= 4 && rng() % 4 != 0) std::copy(kNotifyMagic.begin(), kNotifyMagic.end(), d.begin());
        if (length >= 8 && rng() % 2 == 0) {
            d[4] = static_cast<std::uint8_t>(rng() % 12);
            d[5] = d[6] = d[7] = 0;
        }
        const NotifyAction action = Decide(d);
        const bool isQuery = length >= 12 && length <= 20 && std::equal(kNotifyMagic.begin(), kNotifyMagic.end(), d.begin()) &&
                             d[4] == 0 && d[5] == 0 && d[6] == 0 && d[7] == 0;
        ASSERT_EQ(action.reply.has_value(), isQuery) << "length " << length;
        if (isQuery) {
            ASSERT_EQ(ReplyOf(action), kFound);
        }
        ASSERT_FALSE(action.logText.empty());
    }
}

// HandleNotify over loopback: the reply reaches the sender's address and port before the line
// is logged, and the line is logged as the text it is.
class HandleNotifyTest : public NotifyDecision {
protected:
    void SetUp() override {
        NotifyDecision::SetUp();
        ResetLogForTest();
        server = OpenUdpPort(0, true, htonl(INADDR_LOOPBACK));
        client = OpenUdpPort(0, true, htonl(INADDR_LOOPBACK));
        ASSERT_GE(server, 0);
        ASSERT_GE(client, 0);
        socklen_t length = sizeof clientAddress;
        ::getsockname(client, reinterpret_cast<sockaddr*>(&clientAddress), &length);
    }
    void TearDown() override {
        ResetLogForTest();
        if (server >= 0) ::close(server);
        if (client >= 0) ::close(client);
    }
    std::optional<Bytes> Receive(int timeoutMs = 1000) {
        pollfd p{client, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) return std::nullopt;
        Bytes buffer(64);
        const ssize_t n = ::recv(client, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<std::size_t>(n));
        return buffer;
    }
    std::vector<std::string> Messages() {
        std::vector<std::string> messages;
        for (const auto& line : LogListLines()) messages.push_back(line.substr(kLogPrefixLength));
        return messages;
    }

    int server = -1;
    int client = -1;
    sockaddr_in clientAddress{};
};

TEST_F(HandleNotifyTest, ReplyGoesToTheSenderBeforeTheLineIsLogged) {
    AttachLog((dir.path() / "notify.log").string());
    WriteFile(imagePath(), "image");
    // At the moment the line is kept, the reply must already wait at the sender.
    std::vector<bool> replyQueuedAtLog;
    SetLogListObserver([&] {
        std::uint8_t byte;
        replyQueuedAtLog.push_back(::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1);
    });
    EXPECT_EQ(HandleNotify(server, clientAddress, Datagram({0, 0, 0, 0, 0, 0, 0, 0}), imagePath()), 0);
    EXPECT_EQ(replyQueuedAtLog, std::vector<bool>{true});
    EXPECT_EQ(Receive(), kFound);
    EXPECT_EQ(Messages(), std::vector<std::string>{"T0 127.0.0.1"});

    // Any other type: a line and no reply.
    EXPECT_EQ(HandleNotify(server, clientAddress, Datagram({7, 0, 0, 0, 0, 0, 0, 0}), imagePath()), 0);
    EXPECT_FALSE(Receive(100));
    EXPECT_EQ(Messages().back(), "T7 127.0.0.1");
}

// Texts whose formatting leaves a percent sign behind.
class HandleNotifyPercentTexts : public HandleNotifyTest {
protected:
    HandleNotifyPercentTexts() {
        textChanges = {{IDS_NOTIFY_TYPE8, "%s at 100%% done, value %d"}, {IDS_NOTIFY_OTHER, "%s %u%%s %d%%n"}};
    }
};

TEST_F(HandleNotifyPercentTexts, FinishedLineIsNeverReadAsAFormatAgain) {
    AttachLog((dir.path() / "notify.log").string());
    HandleNotify(server, clientAddress, Datagram({8, 0, 0, 0, 0x2A, 0, 0, 0}), imagePath());
    HandleNotify(server, clientAddress, Datagram({3, 0, 0, 0, 1, 0, 0, 0}), imagePath());
    EXPECT_EQ(Messages(), (std::vector<std::string>{"127.0.0.1 at 100% done, value 42", "127.0.0.1 3%s 1%n"}));
}

TEST_F(HandleNotifyTest, QueryIsAnsweredWhileTheLogIsNotAttached) {
    WriteFile(imagePath(), "image");
    HandleNotify(server, clientAddress, Datagram({0, 0, 0, 0, 0, 0, 0, 0}), imagePath());
    EXPECT_EQ(Receive(), kFound);
    EXPECT_TRUE(LogListLines().empty());
}

TEST_F(HandleNotifyTest, UnsendableReplyStillLogsTheLine) {
    AttachLog((dir.path() / "notify.log").string());
    sockaddr_in nowhere = clientAddress;
    nowhere.sin_port = 0;  // sendto refuses port 0
    HandleNotify(server, nowhere, Datagram({0, 0, 0, 0, 0, 0, 0, 0}), imagePath());
    EXPECT_EQ(Messages(), std::vector<std::string>{"T0 127.0.0.1"});
}

}  // namespace
}  // namespace revuzada
