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
    std::atomic<int> failed{0};
};
Arming arming;

sqlite3_vfs wrapper;
sqlite3_vfs* real = nullptr;

// The error the call must return, or SQLITE_OK to let it through.
int fault(Operation operation) {
    const int index = int(operation);
    const int count = ++arming.seen[size_t(index)];
    if (arming.operation != index) {
        return SQLITE_OK;
    }
    const int nth = arming.nth;
    if (count == nth || (arming.sticky && count > nth)) {
        ++arming.failed;
        return arming.errorCode;
    }
    return SQLITE_OK;
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

// A method of the VFS that calls the real one's.
template <typename Member, Member member> struct VfsMethod;
template <typename Result, typename... Args, Result (*sqlite3_vfs::*member)(sqlite3_vfs*, Args...)>
struct VfsMethod<Result (*sqlite3_vfs::*)(sqlite3_vfs*, Args...), member> {
    static Result call(sqlite3_vfs*, Args... args) { return (real->*member)(real, args...); }
};
template <auto member> constexpr auto vfs = VfsMethod<decltype(member), member>::call;

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

void arm(int operation, int nth, int errorCode, bool sticky) {
    arming.operation = -1;
    for (std::atomic<int>& count : arming.seen) {
        count = 0;
    }
    arming.failed = 0;
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
        wrapper = sqlite3_vfs{};
        wrapper.iVersion = 2;
        wrapper.szOsFile = int(sizeof(File)) + real->szOsFile;
        wrapper.mxPathname = real->mxPathname;
        wrapper.zName = "snipjar-faulty";
        wrapper.xOpen = vfsOpen;
        wrapper.xDelete = vfs<&sqlite3_vfs::xDelete>;
        wrapper.xAccess = vfs<&sqlite3_vfs::xAccess>;
        wrapper.xFullPathname = vfs<&sqlite3_vfs::xFullPathname>;
        wrapper.xDlOpen = vfs<&sqlite3_vfs::xDlOpen>;
        wrapper.xDlError = vfs<&sqlite3_vfs::xDlError>;
        wrapper.xDlSym = vfs<&sqlite3_vfs::xDlSym>;
        wrapper.xDlClose = vfs<&sqlite3_vfs::xDlClose>;
        wrapper.xRandomness = vfs<&sqlite3_vfs::xRandomness>;
        wrapper.xSleep = vfs<&sqlite3_vfs::xSleep>;
        wrapper.xCurrentTime = vfs<&sqlite3_vfs::xCurrentTime>;
        wrapper.xGetLastError = vfs<&sqlite3_vfs::xGetLastError>;
        wrapper.xCurrentTimeInt64 = vfs<&sqlite3_vfs::xCurrentTimeInt64>;
        sqlite3_vfs_register(&wrapper, 1);
    });
}

void arm(Operation operation, int nth, int errorCode, Persistence persistence) {
    arm(int(operation), nth, errorCode, persistence == Persistence::sticky);
}

void disarm() {
    arm(-1, 0, SQLITE_OK, false);
}

int seen(Operation operation) {
    return arming.seen[size_t(operation)];
}

int failed() {
    return arming.failed;
}

} // namespace snipjar::test::FaultyVfs
