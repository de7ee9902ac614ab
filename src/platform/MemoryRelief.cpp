#include "platform/MemoryRelief.h"

#include <malloc.h>

#include <atomic>

namespace snipjar {

namespace {

std::atomic<int> releases{0};

} // namespace

void MemoryRelief::now() {
    ::malloc_trim(0);
    ++releases;
}

int MemoryRelief::count() {
    return releases.load();
}

} // namespace snipjar
