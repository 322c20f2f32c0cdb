#include <gtest/gtest.h>

#include "platform/ini.h"
#include "support/server_process.h"

namespace revuzada {
namespace {

TEST(ReadIniString, FollowsTheProfileRules) {
    struct Case { const char* text; const char* expected; };
    const Case cases[] = {
        {"[lang]\nrc=rc_en.dll\n", "rc_en.dll"},
        {"[LANG]\r\nRC = rc_en.dll \r\n", "rc_en.dll"},               // case, blanks, CR LF
        {"[other]\nrc=x.dll\n", "rc_cn.dll"},                           // section missing
        {"[lang]\nlanguage=x.dll\n", "rc_cn.dll"},                      // key missing
        {"[lang]\nrc=\n", ""},                                          // empty value
        {"[lang]\nrc=\"quoted.dll\"\n", "quoted.dll"},
        {"; comment\n[lang]\n;rc=no.dll\nrc=yes.dll\nrc=second.dll\n", "yes.dll"},
        {"[lang]\n[next]\nrc=x.dll\n", "rc_cn.dll"},                    // key in a later section
        {"", "rc_cn.dll"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadIniStringFromText(c.text, "lang", "rc", "rc_cn.dll"), c.expected) << c.text;
}

TEST(ReadIniString, CutsLongValuesAndDefaultsWithoutAFile) {
    const std::string value(400, 'v');
    EXPECT_EQ(ReadIniStringFromText("[lang]\nrc=" + value + "\n", "lang", "rc", ""),
              std::string(259, 'v'));
    test::TempDir dir;
    EXPECT_EQ(ReadIniString((dir.path() / "none.ini").string(), "lang", "rc", "d"), "d");
    EXPECT_EQ(ReadIniString(dir.path().string(), "lang", "rc", "d"), "d");  // a directory
}

}  // namespace
}  // namespace revuzada
