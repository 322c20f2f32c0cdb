#include <gtest/gtest.h>
#include <sys/stat.h>

#include "log/catalogue.h"
#include "log/format.h"
#include "pack/language_pack.h"
#include "support/server_process.h"

namespace revuzada {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(LoadLanguagePack, RefusesWhatIsNotAPackObject) {
    TempDir dir;
    const auto p = dir.path();
    WriteFile(p / "broken.dll", "{\"strings\": ");
    WriteFile(p / "array.dll", "[1, 2]");
    WriteFile(p / "binary.dll", std::string("MZ\x90\0\x03", 5));
    WriteFile(p / "unreadable.dll", "{}");
    ::chmod((p / "unreadable.dll").c_str(), 0);
    for (const char* name : {"missing.dll", "broken.dll", "array.dll", "binary.dll"})
        EXPECT_FALSE(LoadLanguagePack((p / name).string())) << name;
    EXPECT_FALSE(LoadLanguagePack(p.string())) << "a directory";
    if (::geteuid() != 0) {
        EXPECT_FALSE(LoadLanguagePack((p / "unreadable.dll").string()));
    }
}

TEST(LoadLanguagePack, ToleratesMissingAndMisshapenParts) {
    auto pack = ParseLanguagePack(R"({
        "strings": {"57671": "hello %s", "abc": "ignored", "57672": 5},
        "menus": {"128": "not a list"},
        "icons": {"128": "iVBORw0KGgo="},
        "dialogs": {"130": {"caption": "S", "width": 100, "controls": [{"id": 1000, "type": "edit"}, 7]}}
    })");
    ASSERT_TRUE(pack);
    EXPECT_EQ(pack->Text(IDS_NEW_REQUEST), "hello %s");
    EXPECT_EQ(pack->Text(IDS_OPEN_FAILED), "");
    EXPECT_EQ(pack->Text(IDS_READ_START), "");
    EXPECT_EQ(pack->Menu(128), nullptr);
    ASSERT_NE(pack->Icon(128), nullptr);
    EXPECT_EQ(pack->Icon(128)->substr(1, 3), "PNG");
    ASSERT_NE(pack->Dialog(130), nullptr);
    ASSERT_EQ(pack->Dialog(130)->controls.size(), 1u);
    EXPECT_EQ(pack->Dialog(130)->controls[0].id, 1000);
    EXPECT_TRUE(ParseLanguagePack("{}"));
}

// Both shipped packs must hold every text with exactly its arguments: a text with a wrong
// conversion would garble the log.
class ShippedPack : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedPack, IsComplete) {
    const auto pack = LoadLanguagePack(std::string(REVUZADA_SOURCE_DIR "/res/") + GetParam());
    ASSERT_TRUE(pack);
    for (const CatalogueEntry& entry : Catalogue()) {
        SCOPED_TRACE(entry.name);
        const std::string_view text = pack->Text(entry.id);
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find_first_of("\r\n\t"), std::string_view::npos);
        if (entry.use == TextUse::Verbatim) {
            EXPECT_EQ(text.find('%'), std::string_view::npos);
            continue;
        }
        EXPECT_EQ(ConversionKinds(text), entry.args);
        if (entry.id >= IDS_NOTIFY_TYPE0 && entry.id <= IDS_NOTIFY_OTHER) {
            EXPECT_EQ(text.find("%%"), std::string_view::npos) << "formatted twice";
        }
    }
    const auto* menu = pack->Menu(128);
    ASSERT_TRUE(menu && !menu->empty());
    std::vector<int> trayIds;
    for (const MenuItem& item : menu->front().items)
        if (!item.separator) trayIds.push_back(item.id);
    for (int id : {32771, 57632, 57664, 57665})
        EXPECT_NE(std::find(trayIds.begin(), trayIds.end(), id), trayIds.end()) << id;
    ASSERT_TRUE(pack->Icon(128));
    EXPECT_EQ(pack->Icon(128)->substr(0, 8), "\x89PNG\r\n\x1A\n");
    ASSERT_TRUE(pack->Dialog(100));
    const DialogTemplate* settings = pack->Dialog(130);
    ASSERT_TRUE(settings);
    for (int id : {1000, 1001, 1002, 1, 2}) {
        EXPECT_TRUE(std::any_of(settings->controls.begin(), settings->controls.end(),
                                [&](const DialogControl& c) { return c.id == id; }))
            << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Packs, ShippedPack, ::testing::Values("rc_en.json", "rc_cn.json"));

}  // namespace
}  // namespace revuzada
