#include "finish_action.h"

#include <array>
#include <utility>

#include "interfaces.h"
#include "run_options.h"

namespace velindra {

namespace {

constexpr std::array<std::pair<FinishAction, const char*>, 4> kStored = {{
    {FinishAction::Select, "select"},
    {FinishAction::Open, "open"},
    {FinishAction::Reveal, "poi"},
    {FinishAction::Nothing, "none"},
}};

}  // namespace

FinishAction ParseFinishAction(std::string_view stored) {
    for (const auto& [action, text] : kStored) {
        if (stored == text)
            return action;
    }
    return FinishAction::Nothing;
}

const char* StoredText(FinishAction action) {
    for (const auto& [known, text] : kStored) {
        if (known == action)
            return text;
    }
    return "none";
}

void CarryOutFinishAction(const std::string& destination, RunOptions& options,
                          CompletionPrompt& prompt, Launcher& launcher) {
    if (options.selection == FinishAction::Select)
        prompt.ShowCompletionPrompt(options);
    switch (options.selection) {
        case FinishAction::Open:
            launcher.OpenFile(destination);
            break;
        case FinishAction::Reveal:
            launcher.RevealFile(destination);
            break;
        case FinishAction::Select:  // the prompt was closed without an answer
        case FinishAction::Nothing:
            break;
    }
}

}  // namespace velindra
