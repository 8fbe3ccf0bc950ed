// Recording stand-ins for everything the conversion logic reaches outside itself, all writing
// into one journal so that tests can check the order of what happened.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/batch.h"

namespace velindra::testing {

using Events = std::vector<std::string>;

struct MemorySettings : SettingsStore {
    std::map<std::string, std::string, std::less<>> values;
    int reads = 0;
    Events writes;  // "key=value", in order
    std::string Read(std::string_view key, std::string_view def) override {
        ++reads;
        auto it = values.find(key);
        return it == values.end() ? std::string(def) : it->second;
    }
    bool Write(std::string_view key, std::string_view value) override {
        values[std::string(key)] = value;
        writes.push_back(std::string(key) + "=" + std::string(value));
        return true;
    }
};

// A valid 40-digit hash that starts and ends with the given pairs: Hash("AB", "EF").
inline std::string Hash(const std::string& first2, const std::string& last2) {
    return first2 + std::string(36, '0') + last2;
}

// A file a fake source staged, and a commit that has ended.
struct StagedNothing : StagedFile {};
struct Committed : PendingCommit {
    FetchResult result = FetchResult::Done();
    bool Ended() override { return true; }
    FetchResult Wait() override { return result; }
};

// Every outside part at once. Save dialogs and prompts take their answers in turn: a path
// confirms the dialog, "" cancels it; a prompt answer is the button's value ("" for the
// close box) and the remember box. Without answers left, dialogs cancel and prompts close.
// Downloads follow `decide`, by default all succeed; the mirrors are short enough to read.
// With `ahead` workers, links are fetched ahead on threads of their own.
struct World : MessageSink,
               SaveDialog,
               CompletionPrompt,
               Downloader,
               Launcher,
               FileCommitter,
               BatchWaiter {
    Events journal;
    MemorySettings settings;
    std::vector<std::string> saveAnswers;
    std::vector<std::pair<std::string, bool>> promptAnswers;
    size_t saved = 0, prompted = 0;  // answers used so far
    std::function<FetchError(const FetchRequest&)> decide = [](auto&) { return FetchError::None; };
    std::vector<std::string> mirrors = {"m1/{first2}/{last2}", "m2/{last2}", "m3/{last2}"};
    RunOptions options;
    int ahead = 0;
    std::string staging;
    std::mutex lock;  // the journal, when links are fetched ahead
    Events commits;   // "destination", in order

    // Every event goes through here: with links fetched ahead, sources record from their own
    // threads while the batch records its windows.
    void Record(std::string event) {
        std::lock_guard<std::mutex> guard(lock);
        journal.push_back(std::move(event));
    }
    void ShowMessage(const std::string& text) override { Record("message " + text); }
    bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) override {
        Record("save-as " + request.title + " " + fileName);
        const std::string answer = saved < saveAnswers.size() ? saveAnswers[saved++] : "";
        if (!answer.empty())
            fileName = answer;
        return !answer.empty();
    }
    void ShowCompletionPrompt(RunOptions& o) override {
        Record("prompt");
        const auto [value, remember] =
            prompted < promptAnswers.size() ? promptAnswers[prompted++] : std::pair("", false);
        if (!value.empty())
            o.selection = ParseFinishAction(value);
        if (!value.empty() && remember) {
            settings.Write(keys::kOnFinish, value);
            Record("remember " + value);
        }
    }
    FetchResult Fetch(const FetchRequest& request) override {
        Record("fetch " + request.url + " -> " + request.destination);
        FetchResult result = FetchResult::Failed(decide(request), "");
        if (result.ok())
            result.staged = std::make_shared<StagedNothing>();
        return result;
    }
    std::shared_ptr<PendingCommit> Submit(std::shared_ptr<StagedFile> file,
                                          const std::string& destination, const std::atomic<bool>*,
                                          Placing) override {
        std::lock_guard<std::mutex> guard(lock);
        commits.push_back(destination);
        auto done = std::make_shared<Committed>();
        if (!file)
            done->result = FetchResult::Failed(FetchError::Other, "nothing staged");
        return done;
    }
    void WaitFor(const std::function<bool()>& ready, const WaitingFor&) override {
        while (!ready())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    bool OpenFile(const std::string& p) override {
        return Record("open " + p), launchProblem == LaunchProblem::None;
    }
    LaunchProblem lastProblem() const override { return launchProblem; }
    bool RevealFile(const std::string& p) override { return Record("reveal " + p), true; }

    LaunchProblem launchProblem = LaunchProblem::None;  // why opening a file fails

    void Run(std::string_view text) {
        Services s{settings, *this, *this, *this,   *this,
                   *this,    *this, *this, mirrors, PathRules{false}};
        s.aheadWorkers = ahead;
        s.stagingFolder = staging;
        FetchBatch(text, options, s);
    }
};

}  // namespace velindra::testing
