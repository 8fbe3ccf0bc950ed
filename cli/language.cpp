#include "cli/language.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/console.h"

namespace velindra {

Language LanguageOf(std::string_view locale) {
    // Simplified Chinese only: Taiwan, Hong Kong and Macau write Traditional characters, which
    // this program has no words in, and are spoken to in English.
    const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
    for (const std::string_view traditional :
         {"zh_TW", "zh_HK", "zh_MO", "zh-TW", "zh-HK", "zh-MO", "zh_Hant", "zh-Hant"}) {
        if (name.starts_with(traditional))
            return Language::English;
    }
    return name.starts_with("zh") ? Language::Chinese : Language::English;
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

// As gettext reads LANGUAGE: a list of languages by preference ("zh_CN:en"), honoured unless
// the messages' locale is C; the first one this program speaks wins. None when it names none.
std::optional<Language> PreferredLanguage(std::optional<std::string_view> messages) {
    const std::optional<std::string_view> list = FirstSet({"LANGUAGE"});
    if (!list ||
        (messages && (*messages == "C" || messages->starts_with("C.") || *messages == "POSIX")))
        return std::nullopt;
    for (std::string_view rest = *list; !rest.empty();) {
        const std::string_view entry = rest.substr(0, rest.find(':'));
        rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
        if (entry.starts_with("en") || entry.starts_with("zh"))
            return LanguageOf(entry);
    }
    return std::nullopt;
}

}  // namespace

Language UserLanguage() {
    const std::optional<std::string_view> messages = FirstSet({"LC_ALL", "LC_MESSAGES", "LANG"});
    const std::optional<Language> preferred = PreferredLanguage(messages);
    if (!messages && !preferred)
        return LanguageOf(SystemLocaleName());
    if (preferred ? *preferred != Language::Chinese : LanguageOf(*messages) != Language::Chinese)
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
