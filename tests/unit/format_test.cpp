#include <gtest/gtest.h>

#include <vector>

#include "log/format.h"

namespace revuzada {
namespace {

std::string Fmt(std::string_view format, std::vector<FormatArg> args) {
    return FormatText(format, args);
}

TEST(FormatText, FormatsTheCatalogueConversions) {
    EXPECT_EQ(Fmt("request from %s", {"10.0.0.7"}), "request from 10.0.0.7");
    EXPECT_EQ(Fmt("error %d", {-3}), "error -3");
    EXPECT_EQ(Fmt("%s: type %u, value %d", {"1.2.3.4", 4294967295u, -1}),
              "1.2.3.4: type 4294967295, value -1");
    EXPECT_EQ(Fmt("100%% done", {}), "100% done");
    EXPECT_EQ(Fmt("[%5d|%-4s|%.2s|%05u|%x]", {42, "ab", "xyz", 7u, 255}), "[   42|ab  |xy|00007|ff]");
    EXPECT_EQ(Fmt("%ld and %lld", {1, 2}), "1 and 2");
}

// A pack can be edited by anyone: no text may read or write memory it was not given.
TEST(FormatText, HostileFormatsAreHarmless) {
    struct Case { const char* format; std::vector<FormatArg> args; const char* expected; };
    const Case cases[] = {
        {"%s %s %s", {"one"}, "one  "},            // more conversions than arguments
        {"%n%p%f", {1}, "%n%p%f"},                 // conversions that take no known argument
        {"%*d", {5, 6}, "%*d"},                    // a width from the arguments
        {"%d", {"text"}, "text"},                  // a string where a number was expected
        {"%s", {12}, "12"},                        // a number where a string was expected
        {"tail %", {}, "tail %"},                  // a lone percent sign at the end
        {"%99999999999d", {1}, nullptr},           // a huge width is clamped
    };
    for (const Case& c : cases) {
        const std::string out = FormatText(c.format, c.args);
        if (c.expected) EXPECT_EQ(out, c.expected) << c.format;
        else EXPECT_LE(out.size(), 1100u) << c.format;
    }
}

TEST(FormatText, CutsAtTheLimit) {
    EXPECT_EQ(FormatText("%s", std::vector<FormatArg>{std::string(5000, 'a')}, 100).size(), 100u);
}

TEST(ConversionKinds, ListsOneLetterPerArgument) {
    EXPECT_EQ(ConversionKinds("%s sent %d of %u (%%)"), "siu");
    EXPECT_EQ(ConversionKinds("%5.2s %-3x %ld"), "sui");
    EXPECT_EQ(ConversionKinds("%n %p %*d %"), "????");
    EXPECT_EQ(ConversionKinds("plain"), "");
}

}  // namespace
}  // namespace revuzada
