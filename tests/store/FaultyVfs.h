#pragma once

namespace snipjar::test {

// A SQLite VFS that wraps the one in use and makes the writes, syncs or opens of files fail at their
// Nth call, or from it on, as a failing or full disk would. Installed once as the default VFS, it passes
// every call through until it is armed, so the store under test opens its files through it unchanged.
namespace FaultyVfs {

enum class Operation { write, sync, open };
// once: the Nth call alone fails, as a passing I/O error; sticky: every call from the Nth on fails
// until disarm(), as a disk that stays full.
enum class Persistence { once, sticky };

void install();
// Counts afresh from now; `errorCode` is what the failing calls return (SQLITE_IOERR_WRITE,
// SQLITE_FULL, ...).
void arm(Operation operation, int nth, int errorCode, Persistence persistence);
void disarm();
// Calls of the operation seen since the last arm() or disarm().
int seen(Operation operation);

} // namespace FaultyVfs

} // namespace snipjar::test
