// Recording stand-ins for everything the conversion logic reaches outside itself.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch.h"

namespace velindra::testing {

class MemorySettings : public SettingsStore {
  public:
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

// One ordered record of everything the batch did outside, so tests can check the sequence.
struct Journal {
    std::vector<std::string> events;
    void Add(std::string e) { events.push_back(std::move(e)); }
};

class RecordingMessages : public MessageSink {
  public:
    explicit RecordingMessages(Journal& j) : journal(j) {}
    Journal& journal;
    void ShowMessage(const std::string& text) override { journal.Add("message " + text); }
};

class ScriptedSaveDialog : public SaveDialog {
  public:
    explicit ScriptedSaveDialog(Journal& j) : journal(j) {}
    Journal& journal;
    // Answers in turn: a path confirms it, nullopt cancels. Without answers every dialog cancels.
    std::vector<std::optional<std::string>> answers;
    size_t next = 0;
    SaveDialogRequest lastRequest;
    bool ShowSaveDialog(std::string& fileName, const SaveDialogRequest& request) override {
        journal.Add("save-as " + fileName);
        lastRequest = request;
        if (next >= answers.size() || !answers[next]) {
            ++next;
            return false;
        }
        fileName = *answers[next++];
        return true;
    }
};

class ScriptedPrompt : public CompletionPrompt {
  public:
    ScriptedPrompt(Journal& j, SettingsStore& s) : journal(j), settings(s) {}
    Journal& journal;
    SettingsStore& settings;
    // Each answer: the button's value ("" closes without a button) and the remember box.
    std::vector<std::pair<std::string, bool>> answers;
    size_t next = 0;
    void ShowCompletionPrompt(RunOptions& options) override {
        journal.Add("prompt");
        if (next >= answers.size())
            return;
        auto [value, remember] = answers[next++];
        if (value.empty())
            return;
        options.selection = value;
        if (remember)
            settings.Write(keys::kOnFinish, value);
    }
};

class RecordingDownloader : public Downloader {
  public:
    explicit RecordingDownloader(Journal& j) : journal(j) {}
    Journal& journal;
    std::vector<FetchRequest> requests;
    // Decides each request; by default every download succeeds.
    std::function<FetchError(const FetchRequest&)> decide = [](const FetchRequest&) {
        return FetchError::None;
    };
    FetchResult Fetch(const FetchRequest& request) override {
        requests.push_back(request);
        journal.Add("fetch " + request.url + " -> " + request.destination);
        return FetchResult{decide(request), ""};
    }
};

class RecordingLauncher : public Launcher {
  public:
    explicit RecordingLauncher(Journal& j) : journal(j) {}
    Journal& journal;
    bool OpenFile(const std::string& path) override { return journal.Add("open " + path), true; }
    bool RevealFile(const std::string& path) override {
        return journal.Add("reveal " + path), true;
    }
};

// A valid 40-digit hash that starts and ends with the given pairs: Hash("AB", "EF").
inline std::string Hash(const std::string& first2, const std::string& last2) {
    return first2 + std::string(36, '0') + last2;
}

// All fakes wired together, with mirrors whose URLs are short enough to read in tests.
struct World {
    Journal journal;
    MemorySettings settings;
    RecordingMessages messages{journal};
    ScriptedSaveDialog saveDialog{journal};
    ScriptedPrompt prompt{journal, settings};
    RecordingDownloader downloader{journal};
    RecordingLauncher launcher{journal};
    // Short enough to read: the layouts themselves are checked on their own.
    std::vector<std::string> mirrors = {"m1/{first2}/{last2}", "m2/{last2}", "m3/{last2}"};
    RunOptions options;

    Services services() {
        return Services{settings,   messages, saveDialog, prompt,
                        downloader, launcher, mirrors,    PathRules{false}};
    }
    void Run(std::string_view text) { FetchBatch(text, options, services()); }
};

}  // namespace velindra::testing
