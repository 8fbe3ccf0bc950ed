#include "core/finish_action.h"

#include <cstddef>
#include <iterator>

#include "core/interfaces.h"

namespace velindra {

namespace {

// Every action: its stored text, and what it launches once the file is saved (Select asks
// first, and then does what the answer says).
struct Row {
    FinishAction action;
    const char* stored;
    bool (Launcher::*launch)(const std::string& path);
};
constexpr Row kRows[] = {
    {FinishAction::Select, "select", nullptr},
    {FinishAction::Open, "open", &Launcher::OpenFile},
    {FinishAction::Reveal, "poi", &Launcher::RevealFile},
    {FinishAction::Nothing, "none", nullptr},
};

// A row for every action, each at its action's place.
constexpr bool EveryActionInOrder() {
    if (std::size(kRows) != kFinishActionCount)
        return false;
    for (size_t k = 0; k < std::size(kRows); ++k) {
        if (static_cast<size_t>(kRows[k].action) != k)
            return false;
    }
    return true;
}
static_assert(EveryActionInOrder(), "every finish action has its row, at its value's place");

}  // namespace

FinishAction ParseFinishAction(std::string_view stored) {
    for (const Row& row : kRows) {
        if (stored == row.stored)
            return row.action;
    }
    return FinishAction::Nothing;
}

const char* StoredText(FinishAction action) {
    for (const Row& row : kRows) {
        if (row.action == action)
            return row.stored;
    }
    return "none";
}

std::vector<std::string> FinishTexts() {
    std::vector<std::string> texts;
    for (const Row& row : kRows)
        texts.push_back(row.stored);
    return texts;
}

void CarryOutFinishAction(const std::string& destination, FinishAction& selection,
                          const std::function<void()>& ask, Launcher& launcher) {
    if (selection == FinishAction::Select)
        ask();
    // A prompt closed without an answer leaves Select, which launches nothing.
    for (const Row& row : kRows) {
        if (row.action == selection && row.launch)
            (launcher.*row.launch)(destination);
    }
}

}  // namespace velindra
