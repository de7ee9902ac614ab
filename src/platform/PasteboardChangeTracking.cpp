#include "platform/PasteboardChangeTracking.h"

namespace snipjar {

namespace {
qint64 writtenChangeCount = -1;
} // namespace

qint64 lastWrittenChangeCount() {
    return writtenChangeCount;
}

void setLastWrittenChangeCount(qint64 changeCount) {
    writtenChangeCount = changeCount;
}

} // namespace snipjar
