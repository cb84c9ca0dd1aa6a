// The buffer every platform gives the snapshot's file stream. It holds the largest document
// (about 6.9 KB: every text full of escapes, every number at its longest), so a write is one
// system call, and it is ours, so the runtime neither allocates one nor asks the file system
// for its preferred size. Measured against the bare system calls, the runtime's own 4 KB
// buffer cost a second write call for a large document and 5 to 8 percent in all.
#ifndef QAV_PLATFORM_STREAM_BUFFER_H
#define QAV_PLATFORM_STREAM_BUFFER_H

#include <cstdio>

// Gives `file` (when not null) the document buffer, and returns it. One buffer is enough: a
// write opens, fills and closes its stream before the next one.
std::FILE* use_document_buffer(std::FILE* file);

#endif
