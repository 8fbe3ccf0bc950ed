// What every program of ours does first, before it opens any file or socket.
#pragma once

namespace velindra {

// Descriptors 0, 1 and 2 closed by whoever started us (cron, a service manager, a launcher)
// would otherwise be taken by the first file or socket we open, and text meant for the
// terminal would land inside a saved file or go down a connection. They are opened on
// /dev/null instead.
void EnsureStandardDescriptors();

// A desktop program started without HOME (some service managers do that) would keep its
// settings at the root of the file system; HOME is taken from the password database instead.
// With no home there either, XDG_CONFIG_HOME and XDG_CACHE_HOME are left for Qt to refuse.
void EnsureHomeFolder();

// Every link waiting on the network holds a few sockets: the soft bound on open files (often
// 1,024) is raised to the hard one. Returns the bound now in force; -1 where there is none to
// speak of.
long RaiseOpenFileLimit();

}  // namespace velindra
