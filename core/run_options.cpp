#include "core/run_options.h"

#include <algorithm>
#include <stdexcept>

namespace velindra {

const std::vector<Setting>& Settings() {
    // The batch run and the settings window differ for onError only; both treat everything but
    // "ignore" as "report failures".
    static const std::vector<Setting> settings = [] {
        std::vector<Setting> table = {
            {keys::kOnFinish, "select", "select", FinishTexts(), StoredText(FinishAction::Nothing),
             nullptr,
             [](RunOptions& o, const std::string& text) { o.selection = ParseFinishAction(text); },
             0},
            {keys::kOnError,
             "msg",
             "",
             {"msg", "ignore"},
             "msg",
             nullptr,
             [](RunOptions& o, const std::string& text) { o.showErr = text != "ignore"; },
             2},
            {keys::kOnStart,
             "",
             "",
             {},
             "",
             nullptr,
             [](RunOptions& o, const std::string& text) { o.basePath = text; },
             1},
            {keys::kFileName,
             "dn",
             "dn",
             {"dn", "btih"},
             "dn",
             "--name",
             [](RunOptions& o, const std::string& text) { o.usedn = text == "dn"; },
             3},
        };
        for (Setting& setting : table) {
            for (const std::string& text : setting.texts)
                setting.optionValue += (setting.optionValue.empty() ? "" : "|") + text;
        }
        return table;
    }();
    return settings;
}

const Setting& SettingFor(std::string_view key) {
    const std::vector<Setting>& settings = Settings();
    const auto found = std::find_if(settings.begin(), settings.end(),
                                    [&](const Setting& s) { return key == s.key; });
    if (found == settings.end())
        throw std::logic_error("no setting " + std::string(key));
    return *found;
}

bool Setting::Knows(std::string_view text) const {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

std::string Setting::Canonical(std::string_view stored) const {
    return texts.empty() || Knows(stored) ? std::string(stored) : std::string(otherwise);
}

std::string CanonicalText(std::string_view key, std::string_view stored) {
    return SettingFor(key).Canonical(stored);
}

RunOptions RunOptions::Defaults() {
    RunOptions options;
    for (const Setting& setting : Settings())
        setting.apply(options, setting.Canonical(setting.batchDefault));
    return options;
}

void RunOptions::Load(SettingsStore& store) {
    for (const Setting& setting : Settings())
        setting.apply(*this, setting.Canonical(store.Read(setting.key, setting.batchDefault)));
}

}  // namespace velindra
