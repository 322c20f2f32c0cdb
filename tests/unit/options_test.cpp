#include <gtest/gtest.h>

#include "app/options.h"
#include "support/server_process.h"

namespace revuzada {
namespace {

TEST(ParseOptions, DefaultsAndValues) {
    auto none = ParseOptions({});
    ASSERT_TRUE(none.options);
    EXPECT_FALSE(none.options->headless);
    EXPECT_EQ(none.options->tftpPort, 69);
    EXPECT_EQ(none.options->notifyPort, 9978);
    EXPECT_EQ(none.options->timeoutSeconds, 5);
    EXPECT_EQ(none.options->retries, 5);
    EXPECT_TRUE(none.options->serveDir.empty());

    test::TempDir dir;
    auto all = ParseOptions({"--headless", "--tftp-port", "16969", "--notify-port=19978",
                             "--serve-dir", dir.path().string(), "--timeout", "2",
                             "--retries", "0", "--bind", "127.0.0.1"});
    ASSERT_TRUE(all.options) << all.error;
    EXPECT_TRUE(all.options->headless);
    EXPECT_EQ(all.options->tftpPort, 16969);
    EXPECT_EQ(all.options->notifyPort, 19978);
    EXPECT_EQ(all.options->serveDir, dir.path().string() + "/");
    EXPECT_EQ(all.options->timeoutSeconds, 2);
    EXPECT_EQ(all.options->retries, 0);
    EXPECT_EQ(all.options->bindAddress, htonl(INADDR_LOOPBACK));
}

TEST(ParseOptions, RefusesBadValuesWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {"--tftp-port", "0"},      {"--tftp-port", "65536"},  {"--tftp-port", "12x"},
        {"--notify-port"},         {"--timeout", "0"},        {"--timeout", "-1"},
        {"--retries", "many"},     {"--serve-dir", "/no/such/dir"},
        {"--bind", "localhost"},   {"--verbose"},             {"--headless=yes"},
        {"--tftp-port", "5000", "--notify-port", "5000"},
    };
    for (const auto& args : bad) {
        auto parsed = ParseOptions(args);
        EXPECT_FALSE(parsed.options) << args[0];
        EXPECT_FALSE(parsed.error.empty());
    }
}

}  // namespace
}  // namespace revuzada
