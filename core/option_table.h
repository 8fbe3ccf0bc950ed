// A program's command-line options as one table: each row's names, value, help and what it does
// to the program's options. Both programs' command lines are such a table (velindra-cli's in
// cli/options.cpp, the window program's in app/main.cpp); the look-up and --help's option
// lines read it.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/terminal_text.h"
#include "core/words.h"

namespace velindra {

// An option that ends the program's start with an answer instead.
enum class OptionStop { None, Help, Version };

template <typename Options>
struct OptionRow {
    // What the option does with its value (nullopt when it takes one and none was given) and
    // the name it was typed as; returns the usage error, or "" when all is well.
    using Apply = std::function<std::string(Options&, const std::optional<std::string>&,
                                            const std::string& typed)>;
    const char* shortName;  // "-o", or "" when there is none
    const char* longName;   // "--output"
    Text valueName;         // shown in --help; "" for a switch
    std::string help;       // "\n" starts a continuation line
    Apply apply;
    OptionStop stop = OptionStop::None;
    bool takesValue() const { return valueName.en[0] != '\0'; }
};

inline constexpr Text kNoValue = {"", ""};

template <typename Options>
const OptionRow<Options>* FindOption(const std::vector<OptionRow<Options>>& table,
                                     std::string_view name) {
    for (const OptionRow<Options>& row : table) {
        if (name == row.longName || (row.shortName[0] && name == row.shortName))
            return &row;
    }
    return nullptr;
}

// --help's lines for the options: the names at the margin, the help from `column` on, as one
// paragraph broken to fit `columns` by display width.
template <typename Options>
std::string OptionLines(const std::vector<OptionRow<Options>>& table, size_t column,
                        size_t columns) {
    std::string text;
    for (const OptionRow<Options>& row : table) {
        std::string left = row.shortName[0] ? std::string("  ") + row.shortName + ", " : "      ";
        left += row.longName;
        if (row.takesValue())
            left += " " + Say(row.valueName);
        const size_t width = DisplayWidth(left);
        text += left + (width < column ? std::string(column - width, ' ')
                                       : "\n" + std::string(column, ' '));
        std::string help = row.help;
        std::replace(help.begin(), help.end(), '\n', ' ');
        text += WrapWidth(help, columns, column, column) + "\n";
    }
    return text;
}

}  // namespace velindra
