// The options of a batch, and the one table of the settings they are stored as.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/finish_action.h"
#include "core/settings_keys.h"
#include "core/text.h"

namespace velindra {

// The four options of a batch, loaded from the store when a batch starts.
// Before the first batch they hold nothing, "", false, false.
struct RunOptions {
    FinishAction selection = FinishAction::Nothing;
    std::string basePath;  // save folder; "" asks with the Save-as dialog for every file
    bool showErr = false;  // report unparsable links and failed fetches
    bool usedn = false;    // name files after the link's display name

    // Reads every setting, in the table's order, with the batch run's defaults.
    void Load(SettingsStore& store);
    // What a batch reads from a store that has none of them.
    static RunOptions Defaults();
};

// One stored setting, declared once: its key, what the batch and the settings window assume
// while it is missing, the texts it is stored as, what it sets, and the velindra-cli option
// that sets the same for one run, where there is one.
struct Setting {
    const char* key;
    const char* batchDefault;
    const char* windowDefault;
    // The texts it knows, in the order the settings window offers them, compared exactly and
    // case-sensitively; every other text reads as `otherwise`. None: any text, taken as it is.
    std::vector<std::string> texts;
    const char* otherwise;
    const char* option;  // velindra-cli's; null when it has none (its help is velindra-cli's own)
    void (*apply)(RunOptions& options, const std::string& text);  // with its canonical text
    // Its place among the settings window's writes: the order the program always wrote them.
    int written;

    std::string optionValue = {};  // what --help shows the option takes: its texts ("dn|btih")

    // The known text `stored` is read as.
    std::string Canonical(std::string_view stored) const;
    bool Knows(std::string_view text) const;
};

// Every setting, in the order a batch reads them (onFinish, onError, onStart, fileName).
const std::vector<Setting>& Settings();
// The setting of a key; the program knows every key it asks for.
const Setting& SettingFor(std::string_view key);

// The stored text a setting's reader takes `stored` for: the known text it matches exactly, or
// the one every other text reads as ("Open" reads as "none" under onFinish). onStart's text is
// taken as it is.
std::string CanonicalText(std::string_view key, std::string_view stored);

}  // namespace velindra
