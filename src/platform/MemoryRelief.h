#pragma once

namespace snipjar {

// Asks the allocator to hand free memory back to the system (glibc malloc_trim).
class MemoryRelief {
public:
    static void now();
    // How many times memory was handed back so far, for tests.
    static int count();
};

} // namespace snipjar
