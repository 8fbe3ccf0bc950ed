#include "run_options.h"

namespace velindra {

namespace {

constexpr const char* kReport = "msg";
constexpr const char* kIgnore = "ignore";
constexpr const char* kDisplayName = "dn";
constexpr const char* kInfoHash = "btih";

}  // namespace

ErrorPolicy ParseErrorPolicy(std::string_view stored) {
    return stored == kIgnore ? ErrorPolicy::Ignore : ErrorPolicy::Report;
}

const char* StoredText(ErrorPolicy policy) {
    return policy == ErrorPolicy::Ignore ? kIgnore : kReport;
}

NameSource ParseNameSource(std::string_view stored) {
    return stored == kInfoHash ? NameSource::InfoHash : NameSource::DisplayName;
}

const char* StoredText(NameSource source) {
    return source == NameSource::InfoHash ? kInfoHash : kDisplayName;
}

std::string CanonicalText(std::string_view key, std::string_view stored) {
    if (key == keys::kOnFinish)
        return StoredText(ParseFinishAction(stored));
    if (key == keys::kOnError)
        return StoredText(ParseErrorPolicy(stored));
    if (key == keys::kFileName)
        return StoredText(ParseNameSource(stored));
    return std::string(stored);
}

void RunOptions::Load(SettingsStore& store) {
    selection = ParseFinishAction(store.Read(keys::kOnFinish, kBatchDefaults.onFinish));
    showErr =
        ParseErrorPolicy(store.Read(keys::kOnError, kBatchDefaults.onError)) == ErrorPolicy::Report;
    basePath = store.Read(keys::kOnStart, kBatchDefaults.onStart);
    usedn = ParseNameSource(store.Read(keys::kFileName, kBatchDefaults.fileName)) ==
            NameSource::DisplayName;
}

}  // namespace velindra
