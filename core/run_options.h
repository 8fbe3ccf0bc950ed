#pragma once

#include <string>

#include "settings_keys.h"

namespace velindra {

// The four options of a batch, loaded from the store when a batch starts.
// Before the first batch they hold "", "", false, false.
struct RunOptions {
    std::string selection;  // the finish action: "select", "open", "poi", "none" or any other text
    std::string basePath;   // save folder; "" asks with the Save-as dialog for every file
    bool showErr = false;   // report unparsable links and failed fetches
    bool usedn = false;     // name files after the link's display name

    // Reads the four keys in the order onFinish, onError, onStart, fileName with the batch
    // run's defaults. Comparisons are exact and case-sensitive.
    void Load(SettingsStore& store);
};

}  // namespace velindra
