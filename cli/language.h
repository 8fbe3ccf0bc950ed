// velindra-cli speaks the user's language as command-line tools do: Chinese under a "zh"
// locale, English under every other one.
#pragma once

#include <string_view>

#include "core/words.h"

namespace velindra {

// From a locale name ("zh_CN.UTF-8", "zh-TW", "en_US", "C"): Chinese for "zh", else English.
Language LanguageOf(std::string_view locale);

// Whether a locale name says its characters are UTF-8 ("zh_CN.UTF-8", "zh_CN.utf8"); a name
// without a character set ("zh_CN") does not.
bool HasUtf8Charset(std::string_view locale);

// The user's language: the first of LC_ALL, LC_MESSAGES and LANG that is set, else the
// system's own (on Windows the user's display language), else English. Chinese only where the
// terminal shows UTF-8: outside Windows, the first of LC_ALL, LC_CTYPE and LANG that is set
// must name a UTF-8 locale.
Language UserLanguage();

}  // namespace velindra
