#pragma once

#include <QtGlobal>

namespace snipjar {

// The clipboard change count right after the application's own last write (the Paster's), or -1
// before the first one. The clipboard monitor ignores a change with this count, so a pasted clip
// is not captured a second time. Main thread only.
qint64 lastWrittenChangeCount();
void setLastWrittenChangeCount(qint64 changeCount);

} // namespace snipjar
