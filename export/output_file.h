#pragma once
// Safe writing of an output file. The bytes go to a fresh temporary file in
// the target's own folder; only after the whole file has been written,
// flushed and closed without an error does it take the target's name, in one
// rename. A failure at any point (disk full, no permission, file size limit)
// removes the temporary file and leaves whatever was at the target untouched.
//
// The target "-" means standard output: the file is built in a temporary
// file of the temporary folder and copied to standard output once complete,
// so a failed write never sends half a file down a pipe.
#include <cstdio>
#include <functional>
#include <string>

namespace ostel::exporting {

// Whether a path names standard output.
inline bool is_standard_output(const std::string& path) { return path == "-"; }

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();

    // Creates the temporary file for `target`. With `replace_existing`
    // false, commit() refuses to take the name of a file that exists by then.
    // False with `error` set ("cannot create PATH: Permission denied").
    bool open(const std::string& target, bool replace_existing, std::string& error);

    // Descriptor of the temporary file, for libraries that write through one.
    // Writers that close what they are given get a duplicate (duplicate()).
    int descriptor() const { return fd_; }
    // A duplicate of the descriptor (the caller closes it); -1 on failure.
    int duplicate() const;
    // The temporary file's path, for writers that reopen the file by name.
    const std::string& temporary_path() const { return temp_path_; }

    // A stdio stream on a duplicate of the descriptor, for libraries that
    // write through one; nullptr with `error` set. End it with close_stream().
    std::FILE* stream(std::string& error);
    // Flushes and closes a stream from stream(); false with the system's
    // reason in `error` when any write through it failed.
    bool close_stream(std::FILE* stream, std::string& error);

    // Writes all of `size` bytes; false with `error` set.
    bool write(const void* data, size_t size, std::string& error);

    // Flushes the data to the disk, closes the file and gives it the target's
    // name (or copies it to standard output). False with `error` set; the
    // temporary file is gone either way.
    bool commit(std::string& error);

    // Gives up: the temporary file is removed, the target stays as it was.
    void discard();

private:
    std::string target_, temp_path_;
    int fd_ = -1;
    bool replace_existing_ = true;
    bool to_stdout_ = false;
};

// The operating system's text for errno `code` ("No space left on device");
// safe to call from several threads.
std::string system_reason(int code);

// "ACTION PATH: REASON" with the operating system's text for errno `code`.
std::string system_error_text(const std::string& action, const std::string& path, int code);

// Writes a whole file through OutputFile in one call; for small outputs held
// in memory (thumbnails).
bool write_file_safely(const std::string& target, const void* data, size_t size, bool replace_existing,
                       std::string& error);

// Writes a whole file through a stdio stream for encoders that take one.
// `encode` returns false with its own message for a failure that is not a
// failed write; a failed write is reported with the system's reason.
bool write_file_through_stream(const std::string& target, bool replace_existing, std::string& error,
                               const std::function<bool(std::FILE*, std::string&)>& encode);

}  // namespace ostel::exporting
