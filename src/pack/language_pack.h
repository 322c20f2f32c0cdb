#pragma once
// The language pack: every text, menu, icon and dialog layout the user sees, loaded whole from
// a JSON file at start-up and kept until the process ends.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace revuzada {

struct MenuItem {
    int id = 0;
    std::string text;
    bool separator = false;
};

struct MenuPopup {
    std::string text;
    std::vector<MenuItem> items;
};

struct DialogControl {
    int id = -1;
    std::string type;  // static, edit, check, button, defbutton
    std::string text;
    int x = 0, y = 0, w = 0, h = 0;
};

struct DialogTemplate {
    std::string caption;
    int width = 0, height = 0;
    std::vector<DialogControl> controls;
};

struct LanguagePack {
    std::map<int, std::string> strings;
    std::map<int, std::vector<MenuPopup>> menus;
    std::map<int, std::string> icons;  // decoded image bytes (PNG)
    std::map<int, DialogTemplate> dialogs;

    // A missing id gives the empty string.
    std::string_view Text(int id) const;
    const std::vector<MenuPopup>* Menu(int id) const;
    const std::string* Icon(int id) const;
    const DialogTemplate* Dialog(int id) const;
};

// Loads a pack. Fails (nullopt) when the file is missing or unreadable, is not valid JSON, or is
// not a JSON object. Parts of the pack that are not of the expected shape are left out; the
// pack still loads.
std::optional<LanguagePack> LoadLanguagePack(const std::string& path);
std::optional<LanguagePack> ParseLanguagePack(std::string_view json);

// The pack of this run. Installed once at start-up and never released, so a text looked up at
// any moment, by any thread, stays valid until the process ends.
void InstallLanguagePack(LanguagePack pack);
const LanguagePack& CurrentPack();
std::string_view LoadText(int id);

}  // namespace revuzada
