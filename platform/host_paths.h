// The file-name rules of the system the program runs on, handed to the conversion logic
// (defined with the user's folders, one file per system).
#pragma once

#include "core/file_names.h"

namespace velindra {

PathRules HostPathRules();

}  // namespace velindra
