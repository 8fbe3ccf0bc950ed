// The file-name rules of the system the program runs on, handed to the conversion logic.
#pragma once

#include "file_names.h"

namespace velindra {

#ifdef _WIN32
inline constexpr PathRules kHostPathRules{true};
#else
inline constexpr PathRules kHostPathRules{false};
#endif

}  // namespace velindra
