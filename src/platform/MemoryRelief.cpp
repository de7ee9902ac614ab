#include "platform/MemoryRelief.h"

#include <malloc.h>

namespace snipjar {

void MemoryRelief::now() {
    ::malloc_trim(0);
}

} // namespace snipjar
