// The options of a batch, and what the stored texts of onError and fileName mean.
#pragma once

#include <string>
#include <string_view>

#include "finish_action.h"
#include "settings_keys.h"

namespace velindra {

// onError: "ignore" keeps failures quiet; "msg", and any other text, reports them.
enum class ErrorPolicy { Report, Ignore };
ErrorPolicy ParseErrorPolicy(std::string_view stored);
const char* StoredText(ErrorPolicy policy);

// fileName: "btih" names files after the info-hash; "dn", and any other text, after the
// link's display name where it has one.
enum class NameSource { DisplayName, InfoHash };
NameSource ParseNameSource(std::string_view stored);
const char* StoredText(NameSource source);

// The stored text a setting's reader takes `stored` for: the known text it matches exactly, or
// the one of the fallback it acts as ("Open" reads as "none" under onFinish). onStart's text
// is taken as it is.
std::string CanonicalText(std::string_view key, std::string_view stored);

// The four options of a batch, loaded from the store when a batch starts.
// Before the first batch they hold nothing, "", false, false.
struct RunOptions {
    FinishAction selection = FinishAction::Nothing;
    std::string basePath;  // save folder; "" asks with the Save-as dialog for every file
    bool showErr = false;  // report unparsable links and failed fetches
    bool usedn = false;    // name files after the link's display name

    // Reads the four keys in the order onFinish, onError, onStart, fileName with the batch
    // run's defaults.
    void Load(SettingsStore& store);
};

}  // namespace velindra
