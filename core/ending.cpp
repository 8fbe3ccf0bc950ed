#include "core/ending.h"

namespace velindra {

Failure Refusal(const LinkPlan& plan) {
    Failure refusal;
    if (!plan.parsed) {
        refusal.ending = Ending::NoHashInLink;
    } else if (!plan.hashes) {
        refusal.ending = plan.parsed->hasV1 ? Ending::InvalidHash : Ending::InvalidV2Hash;
        refusal.last = FetchError::InvalidHash;
    }
    return refusal;
}

Failure Classify(const LinkResult& result) {
    if (result.ok())
        return {};
    Failure failure;
    if (result.attempts.empty()) {
        failure.ending = Ending::NoSource;
        return failure;
    }
    const FetchResult& last = result.attempts.back().result;
    failure.ending = Ending::Failed;
    failure.last = last.error;
    if (last.error == FetchError::Cancelled) {
        failure.ending = Ending::Interrupted;
    } else if (last.error == FetchError::CannotWrite) {
        failure.ending = Ending::CannotWrite;
        failure.problem = ProblemOf(last.systemError);
        failure.detail = last.detail;
    } else if (last.error == FetchError::InvalidHash) {
        failure.ending = Ending::InvalidHash;
    }
    return failure;
}

}  // namespace velindra
