#include "support/reader.h"

WatchResult watch_document(DocumentWatch* w, bool force)
{
    // The stamp is taken before the read: a replace in between is read now and merely makes
    // the next look read the same bytes again.
    FileStamp stamp = os_file_stamp(w->path);
    w->checks++;
    if (!stamp.exists) return WatchResult::missing;
    if (stamp == w->stamp && !force) return WatchResult::unchanged;

    std::string bytes;
    w->reads++;
    ReadResult read = os_read_file(w->path, DOCUMENT_READ_LIMIT, &bytes);
    w->stamp = read == ReadResult::ok ? stamp : FileStamp{};
    switch (read) {
    case ReadResult::missing: return WatchResult::missing;
    case ReadResult::sharing: return WatchResult::sharing;
    case ReadResult::failed: return WatchResult::failed;
    case ReadResult::ok: break;
    }
    if (w->seen && bytes == w->bytes) return WatchResult::same;
    w->seen = true;
    w->bytes = bytes;
    return WatchResult::changed;
}

std::string read_document(const std::string& path)
{
    std::string bytes;
    return os_read_file(path, SIZE_MAX - 1, &bytes) == ReadResult::ok ? bytes : "<missing>";
}
