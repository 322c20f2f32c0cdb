#include "pack/language_pack.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/files.h"

namespace revuzada {

namespace {

using nlohmann::json;

constexpr std::size_t kMaxPackBytes = 16 * 1024 * 1024;

std::optional<int> ParseId(const std::string& key) {
    int id = 0;
    const char* end = key.data() + key.size();
    auto [ptr, ec] = std::from_chars(key.data(), end, id);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return id;
}

std::string StringOr(const json& object, const char* key, std::string fallback = {}) {
    auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : fallback;
}

int IntOr(const json& object, const char* key, int fallback = 0) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_number_integer()) return fallback;
    const auto v = it->get<long long>();
    return v < -100000 || v > 100000 ? fallback : static_cast<int>(v);
}

std::string DecodeBase64(std::string_view in) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : in) {
        const int v = value(c);
        if (v < 0) continue;  // padding, line breaks
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

template <typename Fn>
void ForEachNumbered(const json& root, const char* key, Fn fn) {
    auto it = root.find(key);
    if (it == root.end() || !it->is_object()) return;
    for (auto& [name, value] : it->items()) {
        if (auto id = ParseId(name)) fn(*id, value);
    }
}

std::optional<std::vector<MenuPopup>> ParseMenu(const json& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<MenuPopup> popups;
    for (const json& p : value) {
        if (!p.is_object()) continue;
        MenuPopup popup;
        popup.text = StringOr(p, "text");
        auto items = p.find("items");
        if (items != p.end() && items->is_array()) {
            for (const json& i : *items) {
                if (!i.is_object()) continue;
                MenuItem item;
                auto sep = i.find("separator");
                item.separator = sep != i.end() && sep->is_boolean() && sep->get<bool>();
                item.id = IntOr(i, "id");
                item.text = StringOr(i, "text");
                popup.items.push_back(std::move(item));
            }
        }
        popups.push_back(std::move(popup));
    }
    return popups;
}

std::optional<DialogTemplate> ParseDialog(const json& value) {
    if (!value.is_object()) return std::nullopt;
    DialogTemplate dialog;
    dialog.caption = StringOr(value, "caption");
    dialog.width = IntOr(value, "width");
    dialog.height = IntOr(value, "height");
    auto controls = value.find("controls");
    if (controls != value.end() && controls->is_array()) {
        for (const json& c : *controls) {
            if (!c.is_object()) continue;
            DialogControl control;
            control.id = IntOr(c, "id", -1);
            control.type = StringOr(c, "type", "static");
            control.text = StringOr(c, "text");
            control.x = IntOr(c, "x");
            control.y = IntOr(c, "y");
            control.w = IntOr(c, "w");
            control.h = IntOr(c, "h");
            dialog.controls.push_back(std::move(control));
        }
    }
    return dialog;
}

std::atomic<const LanguagePack*> g_currentPack{nullptr};

}  // namespace

std::string_view LanguagePack::Text(int id) const {
    auto it = strings.find(id);
    return it == strings.end() ? std::string_view() : std::string_view(it->second);
}

const std::vector<MenuPopup>* LanguagePack::Menu(int id) const {
    auto it = menus.find(id);
    return it == menus.end() ? nullptr : &it->second;
}

const std::string* LanguagePack::Icon(int id) const {
    auto it = icons.find(id);
    return it == icons.end() ? nullptr : &it->second;
}

const DialogTemplate* LanguagePack::Dialog(int id) const {
    auto it = dialogs.find(id);
    return it == dialogs.end() ? nullptr : &it->second;
}

std::optional<LanguagePack> ParseLanguagePack(std::string_view text) {
    json root = json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;

    LanguagePack pack;
    ForEachNumbered(root, "strings", [&](int id, const json& v) {
        if (v.is_string()) pack.strings[id] = v.get<std::string>();
    });
    ForEachNumbered(root, "menus", [&](int id, const json& v) {
        if (auto menu = ParseMenu(v)) pack.menus[id] = std::move(*menu);
    });
    ForEachNumbered(root, "icons", [&](int id, const json& v) {
        if (v.is_string()) pack.icons[id] = DecodeBase64(v.get<std::string>());
    });
    ForEachNumbered(root, "dialogs", [&](int id, const json& v) {
        if (auto dialog = ParseDialog(v)) pack.dialogs[id] = std::move(*dialog);
    });
    return pack;
}

std::optional<LanguagePack> LoadLanguagePack(const std::string& path) {
    auto content = ReadRegularFile(path, kMaxPackBytes);
    if (!content) return std::nullopt;
    return ParseLanguagePack(*content);
}

void InstallLanguagePack(LanguagePack pack) {
    // The previous pack, if any, is kept, and kept reachable: a thread may still hold a text
    // of it.
    static std::mutex lock;
    static auto* replaced = new std::vector<const LanguagePack*>;
    const LanguagePack* next = new LanguagePack(std::move(pack));
    std::lock_guard guard(lock);
    if (const LanguagePack* previous = g_currentPack.exchange(next, std::memory_order_acq_rel))
        replaced->push_back(previous);
}

const LanguagePack& CurrentPack() {
    static const LanguagePack empty;
    const LanguagePack* pack = g_currentPack.load(std::memory_order_acquire);
    return pack ? *pack : empty;
}

std::string_view LoadText(int id) { return CurrentPack().Text(id); }

}  // namespace revuzada
