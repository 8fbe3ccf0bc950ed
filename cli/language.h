// velindra-cli speaks the user's language as command-line tools do: Chinese under a "zh"
// locale, English under every other one.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

namespace velindra {

enum class Language { Chinese, English };

// One text in both languages.
struct Text {
    const char* zh;
    const char* en;
};

// From a locale name ("zh_CN.UTF-8", "zh-TW", "en_US", "C"): Chinese for "zh", else English.
Language LanguageOf(std::string_view locale);

// The user's language: the first of LC_ALL, LC_MESSAGES and LANG that is set, else the
// system's own (on Windows the user's display language), else English.
Language UserLanguage();

// The language every text is said in from now on (English until set).
void SetLanguage(Language language);
Language CurrentLanguage();

// The text in the current language, with "%1", "%2", ... replaced by the arguments.
std::string Say(const Text& text, std::initializer_list<std::string> arguments = {});

inline std::ostream& operator<<(std::ostream& out, const Text& text) {
    return out << Say(text);
}

}  // namespace velindra
