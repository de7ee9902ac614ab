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

sqlite3_file* inner(sqlite3_file* file) {
    return reinterpret_cast<File*>(file)->inner;
}

int fileClose(sqlite3_file* file) {
    return inner(file)->pMethods->xClose(inner(file));
}
int fileRead(sqlite3_file* file, void* buffer, int amount, sqlite3_int64 offset) {
    return inner(file)->pMethods->xRead(inner(file), buffer, amount, offset);
}
int fileWrite(sqlite3_file* file, const void* buffer, int amount, sqlite3_int64 offset) {
    if (const int error = fault(Operation::write)) {
        return error;
    }
    return inner(file)->pMethods->xWrite(inner(file), buffer, amount, offset);
}
int fileTruncate(sqlite3_file* file, sqlite3_int64 size) {
    return inner(file)->pMethods->xTruncate(inner(file), size);
}
int fileSync(sqlite3_file* file, int flags) {
    if (const int error = fault(Operation::sync)) {
        return error;
    }
    return inner(file)->pMethods->xSync(inner(file), flags);
}
int fileSize(sqlite3_file* file, sqlite3_int64* size) {
    return inner(file)->pMethods->xFileSize(inner(file), size);
}
int fileLock(sqlite3_file* file, int lock) {
    return inner(file)->pMethods->xLock(inner(file), lock);
}
int fileUnlock(sqlite3_file* file, int lock) {
    return inner(file)->pMethods->xUnlock(inner(file), lock);
}
int fileCheckReservedLock(sqlite3_file* file, int* result) {
    return inner(file)->pMethods->xCheckReservedLock(inner(file), result);
}
int fileControl(sqlite3_file* file, int operation, void* argument) {
    return inner(file)->pMethods->xFileControl(inner(file), operation, argument);
}
int fileSectorSize(sqlite3_file* file) {
    return inner(file)->pMethods->xSectorSize(inner(file));
}
int fileDeviceCharacteristics(sqlite3_file* file) {
    return inner(file)->pMethods->xDeviceCharacteristics(inner(file));
}
int fileShmMap(sqlite3_file* file, int region, int size, int extend, void volatile** address) {
    return inner(file)->pMethods->xShmMap(inner(file), region, size, extend, address);
}
int fileShmLock(sqlite3_file* file, int offset, int count, int flags) {
    return inner(file)->pMethods->xShmLock(inner(file), offset, count, flags);
}
void fileShmBarrier(sqlite3_file* file) {
    inner(file)->pMethods->xShmBarrier(inner(file));
}
int fileShmUnmap(sqlite3_file* file, int deleteFlag) {
    return inner(file)->pMethods->xShmUnmap(inner(file), deleteFlag);
}
int fileFetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** pointer) {
    return inner(file)->pMethods->xFetch(inner(file), offset, amount, pointer);
}
int fileUnfetch(sqlite3_file* file, sqlite3_int64 offset, void* pointer) {
    return inner(file)->pMethods->xUnfetch(inner(file), offset, pointer);
}

const sqlite3_io_methods methods = {
    3,
    fileClose,
    fileRead,
    fileWrite,
    fileTruncate,
    fileSync,
    fileSize,
    fileLock,
    fileUnlock,
    fileCheckReservedLock,
    fileControl,
    fileSectorSize,
    fileDeviceCharacteristics,
    fileShmMap,
    fileShmLock,
    fileShmBarrier,
    fileShmUnmap,
    fileFetch,
    fileUnfetch,
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
int vfsDelete(sqlite3_vfs*, const char* name, int syncDirectory) {
    return real->xDelete(real, name, syncDirectory);
}
int vfsAccess(sqlite3_vfs*, const char* name, int flags, int* result) {
    return real->xAccess(real, name, flags, result);
}
int vfsFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    return real->xFullPathname(real, name, size, out);
}
void* vfsDlOpen(sqlite3_vfs*, const char* name) {
    return real->xDlOpen(real, name);
}
void vfsDlError(sqlite3_vfs*, int size, char* message) {
    real->xDlError(real, size, message);
}
void (*vfsDlSym(sqlite3_vfs*, void* library, const char* symbol))(void) {
    return real->xDlSym(real, library, symbol);
}
void vfsDlClose(sqlite3_vfs*, void* library) {
    real->xDlClose(real, library);
}
int vfsRandomness(sqlite3_vfs*, int size, char* out) {
    return real->xRandomness(real, size, out);
}
int vfsSleep(sqlite3_vfs*, int microseconds) {
    return real->xSleep(real, microseconds);
}
int vfsCurrentTime(sqlite3_vfs*, double* now) {
    return real->xCurrentTime(real, now);
}
int vfsGetLastError(sqlite3_vfs*, int size, char* out) {
    return real->xGetLastError(real, size, out);
}
int vfsCurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* now) {
    return real->xCurrentTimeInt64(real, now);
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
        wrapper.xDelete = vfsDelete;
        wrapper.xAccess = vfsAccess;
        wrapper.xFullPathname = vfsFullPathname;
        wrapper.xDlOpen = vfsDlOpen;
        wrapper.xDlError = vfsDlError;
        wrapper.xDlSym = vfsDlSym;
        wrapper.xDlClose = vfsDlClose;
        wrapper.xRandomness = vfsRandomness;
        wrapper.xSleep = vfsSleep;
        wrapper.xCurrentTime = vfsCurrentTime;
        wrapper.xGetLastError = vfsGetLastError;
        wrapper.xCurrentTimeInt64 = vfsCurrentTimeInt64;
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
