#include "language.h"

#include <atomic>
#include <cstdlib>

#include "console.h"

namespace velindra {

namespace {
std::atomic<Language> gLanguage{Language::English};
}  // namespace

Language LanguageOf(std::string_view locale) {
    return locale.starts_with("zh") ? Language::Chinese : Language::English;
}

Language UserLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return LanguageOf(value);
    }
    return LanguageOf(SystemLocaleName());
}

void SetLanguage(Language language) {
    gLanguage = language;
}

Language CurrentLanguage() {
    return gLanguage;
}

std::string Say(const Text& text, std::initializer_list<std::string> arguments) {
    const std::string_view pattern = gLanguage == Language::Chinese ? text.zh : text.en;
    std::string said;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const size_t n = i + 1 < pattern.size() ? size_t(pattern[i + 1] - '1') : arguments.size();
        if (pattern[i] == '%' && n < arguments.size()) {
            said += *(arguments.begin() + n);
            ++i;
        } else {
            said += pattern[i];
        }
    }
    return said;
}

}  // namespace velindra
