#include "FaultyVfs.h"

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

namespace snipjar::test::FaultyVfs {

namespace {

struct Arming {
    std::atomic<int> operation{-1};
    std::atomic<int> nth{0};
    std::atomic<int> errorCode{SQLITE_OK};
    std::atomic<bool> sticky{false};
    std::array<std::atomic<int>, 3> seen{};
};
Arming arming;

sqlite3_vfs wrapper;
sqlite3_vfs* real = nullptr;

// The error the call must return, or SQLITE_OK to let it through.
int fault(Operation operation) {
    const int count = ++arming.seen[size_t(operation)];
    const int nth = arming.nth;
    const bool fails = arming.operation == int(operation) && (count == nth || (arming.sticky && count > nth));
    return fails ? int(arming.errorCode) : SQLITE_OK;
}

// The wrapped file and, right behind it in the same allocation, the real VFS's file.
struct File {
    sqlite3_file base;
    sqlite3_file* inner;
};

// A method of the wrapped file that calls the real file's, after failing when its operation is
// armed to.
template <typename Member, Member member, int faulty> struct FileMethod;
template <typename Result, typename... Args, Result (*sqlite3_io_methods::*member)(sqlite3_file*, Args...),
          int faulty>
struct FileMethod<Result (*sqlite3_io_methods::*)(sqlite3_file*, Args...), member, faulty> {
    static Result call(sqlite3_file* file, Args... args) {
        if constexpr (faulty >= 0) {
            if (const int error = fault(Operation(faulty))) {
                return error;
            }
        }
        sqlite3_file* inner = reinterpret_cast<File*>(file)->inner;
        return (inner->pMethods->*member)(inner, args...);
    }
};
template <auto member, int faulty = -1>
constexpr auto file = FileMethod<decltype(member), member, faulty>::call;

using Io = sqlite3_io_methods;
const sqlite3_io_methods methods = {
    3,
    file<&Io::xClose>,
    file<&Io::xRead>,
    file<&Io::xWrite, int(Operation::write)>,
    file<&Io::xTruncate>,
    file<&Io::xSync, int(Operation::sync)>,
    file<&Io::xFileSize>,
    file<&Io::xLock>,
    file<&Io::xUnlock>,
    file<&Io::xCheckReservedLock>,
    file<&Io::xFileControl>,
    file<&Io::xSectorSize>,
    file<&Io::xDeviceCharacteristics>,
    file<&Io::xShmMap>,
    file<&Io::xShmLock>,
    file<&Io::xShmBarrier>,
    file<&Io::xShmUnmap>,
    file<&Io::xFetch>,
    file<&Io::xUnfetch>,
};

int vfsOpen(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
    auto* wrapped = reinterpret_cast<File*>(file);
    wrapped->base.pMethods = nullptr;
    wrapped->inner = reinterpret_cast<sqlite3_file*>(wrapped + 1);
    if (const int error = fault(Operation::open)) {
        return error;
    }
    const int result = real->xOpen(real, name, wrapped->inner, flags, outFlags);
    // SQLite calls xClose only on a file whose methods are set.
    if (wrapped->inner->pMethods) {
        wrapped->base.pMethods = &methods;
    }
    return result;
}

void rearm(int operation, int nth, int errorCode, bool sticky) {
    arming.operation = -1;
    for (std::atomic<int>& count : arming.seen) {
        count = 0;
    }
    arming.nth = nth;
    arming.errorCode = errorCode;
    arming.sticky = sticky;
    arming.operation = operation;
}

} // namespace

void install() {
    static std::once_flag once;
    std::call_once(once, [] {
        real = sqlite3_vfs_find(nullptr);
        // The real VFS's methods but opening, none of which needs the VFS it is called with.
        wrapper = *real;
        wrapper.iVersion = 2;
        wrapper.szOsFile = int(sizeof(File)) + real->szOsFile;
        wrapper.pNext = nullptr;
        wrapper.zName = "snipjar-faulty";
        wrapper.xOpen = vfsOpen;
        sqlite3_vfs_register(&wrapper, 1);
    });
}

void arm(Operation operation, int nth, int errorCode, Persistence persistence) {
    rearm(int(operation), nth, errorCode, persistence == Persistence::sticky);
}

void disarm() {
    rearm(-1, 0, SQLITE_OK, false);
}

int seen(Operation operation) {
    return arming.seen[size_t(operation)];
}

} // namespace snipjar::test::FaultyVfs
