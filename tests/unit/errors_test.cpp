#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tftp/errors.h"

namespace revuzada {
namespace {

std::string Error(int code) {
    std::array<std::uint8_t, kTftpMaxPacket> packet;
    const std::size_t n = BuildTftpError(code, packet);
    return std::string(reinterpret_cast<const char*>(packet.data()), n);
}

TEST(TftpError, FixedTextsAndRuntimeErrors) {
    using namespace std::string_literals;
    EXPECT_EQ(Error(1), "\0\5\0\1File not found\0"s);
    EXPECT_EQ(Error(1).size(), 19u);
    EXPECT_EQ(Error(0), "\0\5\0\0Undefined error code\0"s);
    EXPECT_EQ(Error(0).size(), 25u);
    EXPECT_EQ(Error(3).size(), 37u);
    EXPECT_EQ(Error(3).substr(4), "Disk full or allocation exceeded\0"s);
    EXPECT_EQ(Error(102), "\0\5\0\0"s + std::strerror(2) + "\0"s);
    EXPECT_EQ(Error(113), "\0\5\0\0"s + std::strerror(13) + "\0"s);
    // Not in the table and under 100: code 0 with the text for an unknown error number.
    for (int code : {8, 99}) {
        const std::string packet = Error(code);
        EXPECT_EQ(packet.substr(0, 4), "\0\5\0\0"s);
        EXPECT_NE(packet.find("Unknown error"), std::string::npos) << packet;
    }
}

TEST(TftpError, ConcurrentSendersEachGetTheirOwnText) {
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const int number = t == 0 ? 2 : t == 1 ? 13 : t == 2 ? 17 : 28;
            const std::string want = std::string(std::strerror(number));
            for (int i = 0; i < 2000; ++i)
                if (Error(number + 100).substr(4, want.size()) != want) ++wrong;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace revuzada
