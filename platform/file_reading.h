// Reading files the programs are given or keep, and making the folders they save into, the
// same way on POSIX systems and on Windows: whole files as bytes, without ever blocking on
// something that is not a regular file.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "core/result.h"

namespace velindra {

// Reads a whole file ("-" is standard input) as bytes, up to `maxBytes`. Fails with the reason
// when it cannot be read, is a folder, or is larger; a read interrupted once `stop` is set
// ends at once.
FetchResult ReadWholeFile(const std::string& name, std::string& text, size_t maxBytes,
                          const std::atomic<bool>& stop);

// Files the programs read without the user naming them (their state and settings files) are
// read only when they are absent or regular files of at most `maxBytes`; anything else (a
// folder, a FIFO, a device, a huge file) counts as absent, and nothing blocks on it.
bool SafeToRead(const std::string& path, size_t maxBytes);
// Reads such a file whole, up to maxBytes + 1 bytes; fails for anything else.
FetchResult ReadRegularFile(const std::string& path, size_t maxBytes, std::string& text);

// Creates a folder and its parents, as wget -P does; false when it still does not exist.
bool MakeFolders(const std::string& path);

}  // namespace velindra
