// Words in the program's two languages: Chinese, which the windows always speak, and English,
// which velindra-cli speaks outside a Chinese locale. The words both front ends share (why a
// source failed, what a source is called, what the system said) are tables here; each front
// end's own sentences stay with it.
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

#include "interfaces.h"
#include "result.h"

namespace velindra {

enum class Language { Chinese, English };

// One text in both languages.
struct Text {
    const char* zh;
    const char* en;
};

// The language every text is said in from now on (Chinese until set).
void SetLanguage(Language language);
Language CurrentLanguage();

// The text in the current language, with "%1", "%2", ... replaced by the arguments.
std::string Say(const Text& text, std::initializer_list<std::string> arguments = {});

inline std::ostream& operator<<(std::ostream& out, const Text& text) {
    return out << Say(text);
}

// Why a source delivered nothing, in a few words.
const Text& Words(FetchError error);

// What a source of a link is called, "%1" standing for its number among those of its kind
// ("镜像 2", "链接中的地址 1"), and the one word for it in machine-read output ("mirror").
const Text& SourceLabel(SourceKind kind);

// A fact a source states in its detail, in both languages, where the program has words for it;
// nothing for the words of a library or a server (which are shown as they are).
const Text* FactWords(std::string_view detail);
const char* SourceName(SourceKind kind);
// All the sources of a kind, in Chinese, before what they answered ("镜像都没有这个种子").
const char* AllSourcesOf(SourceKind kind);

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
