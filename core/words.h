// Words in the program's two languages: Chinese, which the windows always speak, and English,
// which velindra-cli speaks outside a Chinese locale. The words both front ends share (why a
// source failed, what a source is called, what the system said) are tables here; each front
// end's own sentences stay with it.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

#include "core/result.h"
#include "core/text.h"

namespace velindra {

enum class Language { Chinese, English };

// The language every text is said in from now on (Chinese until set).
void SetLanguage(Language language);
Language CurrentLanguage();

// The text in the current language, with "%1", "%2", ... replaced by the arguments.
std::string Say(const Text& text, std::initializer_list<std::string> arguments = {});
// The same for a text in one language.
std::string Fill(std::string_view pattern, std::initializer_list<std::string> arguments);

inline std::ostream& operator<<(std::ostream& out, const Text& text) {
    return out << Say(text);
}

// Why a source delivered nothing, in a few words.
const Text& Words(FetchError error);

// A fact a source states, in both languages; nothing for Fact::None.
const Text* FactWords(Fact fact);
// A failure that states a fact: its detail is the fact in English words.
FetchResult Stated(FetchError error, Fact fact);

// What the system said behind a failure, from its error number (errno).
enum class SystemProblem {
    None,
    NotFound,
    NotAFolder,
    IsAFolder,
    NoPermission,
    ReadOnly,
    DiskFull,
    QuotaExceeded,
    NameTooLong,
    InputOutput,
    BrokenPipe,
    TooManyFiles,
    NameTaken,  // the folder has another link's file under this name
    Other,
};
SystemProblem ProblemOf(int errorNumber);
// The problems people meet, in their words; nothing for the others.
const Text* SystemWords(SystemProblem problem);

}  // namespace velindra
