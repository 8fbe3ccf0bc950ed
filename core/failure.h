// Why a link was not saved: one classification, which each front end puts into its own words.
#pragma once

#include <string>

#include "core/link_pipeline.h"
#include "core/words.h"

namespace velindra {

enum class Why {
    Saved,
    NoHashInLink,   // refused: the link names no info-hash
    InvalidHash,    // refused: its v1 hash has no readable form
    InvalidV2Hash,  // refused: a v2-only link whose hash has no readable form
    NoSource,       // no source could be asked at all
    NotOnMirrors,   // every source answered with an error status
    Offline,        // no source could be reached
    NotTheTorrent,  // a source delivered something that is not the link's torrent
    CannotWrite,    // the file could not be written where it was to go
    Interrupted,    // the user stopped it
    Failed,         // the sources failed otherwise; `last` says how
};

struct Failure {
    Why why = Why::Saved;
    FetchError last = FetchError::None;           // the last source's answer
    SystemProblem problem = SystemProblem::None;  // what the system said, for CannotWrite
    std::string detail;                           // ... in its own (English) words
};

// Why a planned link was refused before anything was asked (Saved when it was not).
Failure Refusal(const LinkPlan& plan);

// Why a fetched link was not saved (Saved when it was).
Failure Classify(const LinkResult& result);

}  // namespace velindra
