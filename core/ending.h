// How a link ended: one word for both programs, which each puts into its own words. Every
// ending has a row below; a new one is a value, a row here and a row in each front end's table
// of words (the build fails while one is missing).
#pragma once

#include <cstddef>
#include <iterator>
#include <string>

#include "core/link_pipeline.h"
#include "core/words.h"

namespace velindra {

enum class Ending {
    Saved,              // its file is in its place
    Kept,               // its file was there already, with its torrent (not replaced)
    LeftAlone,          // its file's place holds something else, which is not replaced
    NoHashInLink,       // refused: the link names no info-hash
    InvalidHash,        // refused: its v1 hash has no form a delivered file could be checked by
    InvalidV2Hash,      // refused: a v2-only link whose hash has no readable form
    FolderNotAbsolute,  // the save folder is no full path: its file has no place
    NotStarted,         // the run was interrupted before the link's fetch
    Skipped,            // ended without a word: a cancelled Save-as dialog, a stopped batch
    NoSource,           // no source could be asked at all
    CannotWrite,        // its file could not be written where it was to go
    Interrupted,        // its fetch ended because the user stopped it
    Failed,             // its sources delivered nothing: what each answered says why
    Planned,            // a dry run: nothing was asked
};

// What a run makes of an ending: how its summary counts the link, whether a watch tries it
// again (failed) or gives it up (refused).
enum class Verdict { Saved, Kept, Refused, Failed, Interrupted, Planned };

struct EndingRow {
    Ending ending;
    Verdict verdict;
    const char* name;  // in machine-read output: a JSON line's "outcome"
};

// One row an ending, in the enum's order.
inline constexpr EndingRow kEndings[] = {
    {Ending::Saved, Verdict::Saved, "saved"},
    {Ending::Kept, Verdict::Kept, "kept"},
    {Ending::LeftAlone, Verdict::Failed, "failed"},
    {Ending::NoHashInLink, Verdict::Refused, "refused"},
    {Ending::InvalidHash, Verdict::Refused, "refused"},
    {Ending::InvalidV2Hash, Verdict::Refused, "refused"},
    {Ending::FolderNotAbsolute, Verdict::Failed, "failed"},
    {Ending::NotStarted, Verdict::Interrupted, "interrupted"},
    {Ending::Skipped, Verdict::Interrupted, "interrupted"},
    {Ending::NoSource, Verdict::Failed, "failed"},
    {Ending::CannotWrite, Verdict::Failed, "failed"},
    {Ending::Interrupted, Verdict::Interrupted, "interrupted"},
    {Ending::Failed, Verdict::Failed, "failed"},
    {Ending::Planned, Verdict::Planned, "planned"},
};
inline constexpr size_t kEndingCount = std::size(kEndings);
static_assert(kEndingCount == static_cast<size_t>(Ending::Planned) + 1, "every ending has its row");

// Whether a table keyed by ending has one row each, in the enum's order (for static_assert).
template <typename Row, size_t N>
constexpr bool OneRowEach(const Row (&rows)[N]) {
    if (N != kEndingCount)
        return false;
    for (size_t k = 0; k < N; ++k) {
        if (rows[k].ending != static_cast<Ending>(k))
            return false;
    }
    return true;
}
static_assert(OneRowEach(kEndings));

constexpr const EndingRow& RowOf(Ending ending) {
    return kEndings[static_cast<size_t>(ending)];
}
constexpr Verdict VerdictOf(Ending ending) {
    return RowOf(ending).verdict;
}

struct Failure {
    Ending ending = Ending::Saved;
    FetchError last = FetchError::None;           // the last source's answer
    SystemProblem problem = SystemProblem::None;  // what the system said, for CannotWrite
    std::string detail;                           // ... in its own (English) words
};

// Why a planned link was refused before anything was asked (Saved when it was not).
Failure Refusal(const LinkPlan& plan);

// Why a fetched link was not saved (Saved when it was).
Failure Classify(const LinkResult& result);

}  // namespace velindra
