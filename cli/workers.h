// The links of a run on several threads, their outcomes handed back in input order.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "link_pipeline.h"
#include "report.h"

namespace velindra::cli {

// Links that name the same file are fetched one after another, in input order, by one
// worker; everything else may run in parallel. Links that are not fetched go alone.
std::vector<std::vector<size_t>> GroupByDestination(const std::vector<LinkPlan>& plans);

// Runs work(i) for every index of every group on at most `workers` threads and calls
// deliver(i, outcome, finished) on the calling thread for index 0, 1, ... as each is ready;
// the workers go on meanwhile.
// An exception thrown by the work becomes a failed outcome; none leaves a worker thread.
void RunInOrder(const std::vector<std::vector<size_t>>& groups, size_t count, int workers,
                const std::function<Outcome(size_t)>& work,
                const std::function<void(size_t, Outcome&, size_t finished)>& deliver);

}  // namespace velindra::cli
