#include "language.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "console.h"

namespace velindra {

Language LanguageOf(std::string_view locale) {
    return locale.starts_with("zh") ? Language::Chinese : Language::English;
}

bool HasUtf8Charset(std::string_view locale) {
    const size_t dot = locale.find('.');
    if (dot == std::string_view::npos)
        return false;  // zh_CN means GB2312, zh_TW and zh_HK Big5
    std::string_view given = locale.substr(dot + 1);
    given = given.substr(0, given.find('@'));  // "zh_CN.UTF-8@pinyin"
    std::string charset;
    for (char c : given)
        if (c != '-')
            charset.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    return charset == "utf8";
}

namespace {

// The first of these variables that is set, or nothing.
std::optional<std::string_view> FirstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        const char* value = std::getenv(name);
        if (value && *value)
            return value;
    }
    return std::nullopt;
}

}  // namespace

Language UserLanguage() {
    const std::optional<std::string_view> messages = FirstSet({"LC_ALL", "LC_MESSAGES", "LANG"});
    if (!messages)
        return LanguageOf(SystemLocaleName());
    if (LanguageOf(*messages) != Language::Chinese)
        return Language::English;
#ifndef _WIN32
    // The terminal shows the locale's character set; Chinese is written in UTF-8 only, so a
    // GBK, GB2312 or Big5 terminal is spoken to in English rather than in unreadable bytes.
    const std::optional<std::string_view> characters = FirstSet({"LC_ALL", "LC_CTYPE", "LANG"});
    if (!characters || !HasUtf8Charset(*characters))
        return Language::English;
#endif
    return Language::Chinese;
}

}  // namespace velindra
