#include "support/reader.h"

static WatchResult look(DocumentWatch* w, bool force)
{
    // The stamp is taken before the read: a replace in between is read now and merely makes
    // the next look read the same bytes again.
    FileStamp stamp = os_file_stamp(w->path);
    w->checks++;
    if (!stamp.exists) return WatchResult::missing;
    if (stamp == w->stamp && !force) return WatchResult::unchanged;
    // Nothing a directory or a FIFO holds is a document: said once, until something else comes.
    if (stamp.kind != FileKind::regular) {
        w->stamp = stamp;
        return WatchResult::not_file;
    }

    std::string bytes;
    w->reads++;
    ReadResult read = os_read_file(w->path, DOCUMENT_READ_LIMIT, &bytes, true);
    w->stamp = read == ReadResult::ok ? stamp : FileStamp{};
    switch (read) {
    case ReadResult::missing: return WatchResult::missing;
    case ReadResult::sharing: return WatchResult::sharing;
    case ReadResult::failed: return WatchResult::failed;
    case ReadResult::not_file: return WatchResult::not_file;
    case ReadResult::ok: break;
    }
    if (w->seen && bytes == w->bytes) return WatchResult::same;
    w->seen = true;
    w->bytes = bytes;
    return WatchResult::changed;
}

WatchResult watch_document(DocumentWatch* w, bool force)
{
    WatchResult result = look(w, force);
    if (result != WatchResult::unchanged) w->last = result;
    return result;
}

std::string read_document(const std::string& path)
{
    std::string bytes;
    return os_read_file(path, SIZE_MAX - 1, &bytes) == ReadResult::ok ? bytes : "<missing>";
}
