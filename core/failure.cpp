#include "core/failure.h"

#include <algorithm>

namespace velindra {

Failure Refusal(const LinkPlan& plan) {
    Failure refusal;
    if (!plan.parsed) {
        refusal.why = Why::NoHashInLink;
    } else if (!plan.hashes) {
        refusal.why = plan.parsed->hasV1 ? Why::InvalidHash : Why::InvalidV2Hash;
        refusal.last = FetchError::InvalidHash;
    }
    return refusal;
}

Failure Classify(const LinkResult& result) {
    if (result.ok())
        return {};
    Failure failure;
    if (result.attempts.empty()) {
        failure.why = Why::NoSource;
        return failure;
    }
    const FetchResult& last = result.attempts.back().result;
    failure.why = Why::Failed;
    failure.last = last.error;
    const auto all = [&](auto test) {
        return std::all_of(result.attempts.begin(), result.attempts.end(),
                           [&](const Attempt& a) { return test(a.result.error); });
    };
    const auto any = [&](auto test) {
        return std::any_of(result.attempts.begin(), result.attempts.end(),
                           [&](const Attempt& a) { return test(a.result.error); });
    };
    if (last.error == FetchError::Cancelled) {
        failure.why = Why::Interrupted;
    } else if (last.error == FetchError::CannotWrite) {
        failure.why = Why::CannotWrite;
        failure.problem = ProblemOf(last.systemError);
        failure.detail = last.detail;
    } else if (last.error == FetchError::InvalidHash) {
        failure.why = Why::InvalidHash;
    } else if (all([](FetchError e) { return e == FetchError::HttpStatus; })) {
        failure.why = Why::NotOnMirrors;
    } else if (all([](FetchError e) {
                   return e == FetchError::NoConnection || e == FetchError::NotAskedAgain ||
                          e == FetchError::Timeout;
               })) {
        failure.why = Why::Offline;
    } else if (any([](FetchError e) {
                   return e == FetchError::WrongTorrent || e == FetchError::NotATorrent;
               })) {
        failure.why = Why::NotTheTorrent;
    }
    return failure;
}

}  // namespace velindra
