#include "platform/process_setup.h"

namespace velindra {

// Windows gives every process its standard handles (or none, which the C runtime copes with)
// and a profile folder: nothing to do.
void EnsureStandardDescriptors() {}

void EnsureHomeFolder() {}

// Sockets are not bound by the C runtime's limit on open files.
long RaiseOpenFileLimit() {
    return -1;
}

}  // namespace velindra
