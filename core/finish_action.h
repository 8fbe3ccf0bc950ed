// What happens after a link's file was saved, as stored under onFinish and chosen in the
// completion prompt and the settings window.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velindra {

class Launcher;

enum class FinishAction {
    Select,   // "select": ask with the completion prompt
    Open,     // "open": open the file with its program
    Reveal,   // "poi": show the file in its folder
    Nothing,  // "none", and any other stored text
};
inline constexpr size_t kFinishActionCount = static_cast<size_t>(FinishAction::Nothing) + 1;

// The stored text, compared exactly and case-sensitively; anything unknown does nothing.
FinishAction ParseFinishAction(std::string_view stored);
const char* StoredText(FinishAction action);
// Every action's stored text, in the order the windows offer them.
std::vector<std::string> FinishTexts();

// After a successful download: Select asks first with `ask` (whose answer lands in `selection`),
// then Open opens the file, Reveal shows it in its folder, anything else does nothing.
void CarryOutFinishAction(const std::string& destination, FinishAction& selection,
                          const std::function<void()>& ask, Launcher& launcher);

}  // namespace velindra
