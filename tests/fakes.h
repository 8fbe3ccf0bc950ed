// Recording stand-ins for everything the conversion logic reaches outside itself, all writing
// into one journal so that tests can check the order of what happened.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch.h"

namespace velindra::testing {

struct MemorySettings : SettingsStore {
    std::map<std::string, std::string, std::less<>> values;
    int reads = 0;
    std::vector<std::string> writes;  // "key=value", in order
    std::string Read(std::string_view key, std::string_view def) override {
        ++reads;
        auto it = values.find(key);
        return it == values.end() ? std::string(def) : it->second;
    }
    void Write(std::string_view key, std::string_view value) override {
        values[std::string(key)] = std::string(value);
        writes.push_back(std::string(key) + "=" + std::string(value));
    }
};

struct Journal {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

struct RecordingMessages : MessageSink {
    Journal& journal;
    explicit RecordingMessages(Journal& j) : journal(j) {}
    void ShowMessage(const std::string& text) override { journal.Add("message " + text); }
};

// Answers in turn: a path confirms it, nullopt cancels; without answers every dialog cancels.
struct ScriptedSaveDialog : SaveDialog {
    Journal& journal;
    std::vector<std::optional<std::string>> answers;
    size_t next = 0;
    SaveDialogRequest lastRequest;
    explicit ScriptedSaveDialog(Journal& j) : journal(j) {}
    bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) override {
        journal.Add("save-as " + fileName);
        lastRequest = request;
        const size_t at = next++;
        if (at >= answers.size() || !answers[at])
            return false;
        fileName = *answers[at];
        return true;
    }
};

// Each answer: the button's value ("" closes without a button) and the remember box.
struct ScriptedPrompt : CompletionPrompt {
    Journal& journal;
    SettingsStore& settings;
    std::vector<std::pair<std::string, bool>> answers;
    size_t next = 0;
    ScriptedPrompt(Journal& j, SettingsStore& s) : journal(j), settings(s) {}
    void ShowCompletionPrompt(RunOptions& options) override {
        journal.Add("prompt");
        if (next >= answers.size())
            return;
        auto [value, remember] = answers[next++];
        if (!value.empty())
            options.selection = value;
        if (!value.empty() && remember)
            settings.Write(keys::kOnFinish, value);
    }
};

struct RecordingDownloader : Downloader {
    Journal& journal;
    std::vector<FetchRequest> requests;
    // Decides each request; by default every download succeeds.
    std::function<FetchError(const FetchRequest&)> decide = [](auto&) { return FetchError::None; };
    explicit RecordingDownloader(Journal& j) : journal(j) {}
    FetchResult Fetch(const FetchRequest& request) override {
        requests.push_back(request);
        journal.Add("fetch " + request.url + " -> " + request.destination);
        return FetchResult{decide(request), ""};
    }
};

struct RecordingLauncher : Launcher {
    Journal& journal;
    explicit RecordingLauncher(Journal& j) : journal(j) {}
    bool OpenFile(const std::string& path) override { return journal.Add("open " + path), true; }
    bool RevealFile(const std::string& p) override { return journal.Add("reveal " + p), true; }
};

// A valid 40-digit hash that starts and ends with the given pairs: Hash("AB", "EF").
inline std::string Hash(const std::string& first2, const std::string& last2) {
    return first2 + std::string(36, '0') + last2;
}

// All fakes wired together, with mirrors whose URLs are short enough to read in tests (the
// real layouts are checked on their own).
struct World {
    Journal journal;
    MemorySettings settings;
    RecordingMessages messages{journal};
    ScriptedSaveDialog saveDialog{journal};
    ScriptedPrompt prompt{journal, settings};
    RecordingDownloader downloader{journal};
    RecordingLauncher launcher{journal};
    std::vector<std::string> mirrors = {"m1/{first2}/{last2}", "m2/{last2}", "m3/{last2}"};
    RunOptions options;

    Services services() {
        return Services{settings,   messages, saveDialog, prompt,
                        downloader, launcher, mirrors,    PathRules{false}};
    }
    void Run(std::string_view text) { FetchBatch(text, options, services()); }
};

}  // namespace velindra::testing
