#pragma once
// The files behind the settings database: the zlib stream it is kept in
// between runs and the plain copy the program works on. Every write is
// checked and flushed to the disk before a file takes the place of another.
#include <string>

namespace ostel::persistence {

enum class InflateResult {
    ok,
    missing,       // no stored file: a first start
    damaged,       // not a complete zlib stream
    unreadable,    // the stored file exists but cannot be read
    write_failed,  // the copy could not be written (disk full, no permission)
};

// Inflates the zlib stream in `stored` into a new file `target` (replacing
// it), flushed to the disk. On failure `target` is removed and `error`
// says why.
InflateResult inflate_file(const std::string& stored, const std::string& target, std::string& error);

// Deflates `source` at level 5 into `target`: first into `target`.new,
// checking every write and the close, flushed to the disk, then renamed
// over `target`. On failure `target` is untouched, the partial file is
// removed, and `error` says why.
bool deflate_file_replacing(const std::string& source, const std::string& target, std::string& error);

// Renames `path` to `path`.bad, or to `path`.bad.1, .bad.2, ... when that
// exists. Returns the new name, empty when the rename failed.
std::string set_aside(const std::string& path);

// Flushes a folder's entries (renames, removals) to the disk.
void sync_folder(const std::string& folder);

// Removes a file; true when it is gone (or was never there).
bool remove_file(const std::string& path);

bool file_exists(const std::string& path);

}  // namespace ostel::persistence
