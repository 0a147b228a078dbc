#include "export/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

namespace ostel::exporting {

namespace {

namespace fs = std::filesystem;

// Distinct temporary names for the files written side by side by several
// threads and processes.
std::string temporary_suffix() {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    char text[48];
    std::snprintf(text, sizeof text, ".%d-%x-%u.part", int(::getpid()), seed, counter++);
    return text;
}

bool write_all(int fd, const uint8_t* data, size_t size, int& code) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            code = errno;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A file in the temporary folder for output bound for a pipe; named, so
// that writers can reopen it like any other output.
int pipe_temporary_file(std::string& path, int& code) {
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    const std::string pattern = ((ec ? fs::path("/tmp") : folder) / "ostelraw-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) {
        code = errno;
        return -1;
    }
    path = buffer.data();
    return fd;
}

// Moves the finished file onto the target without replacing a file that
// appeared there in the meantime.
int rename_without_replacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // File systems without the no-replace rename: a hard link fails on an
    // existing name just the same.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

std::string system_reason(int code) { return std::generic_category().message(code); }

std::string system_error_text(const std::string& action, const std::string& path, int code) {
    return action + " " + (is_standard_output(path) ? std::string("standard output") : path) + ": " +
           system_reason(code);
}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open(const std::string& target, bool replace_existing, std::string& error) {
    discard();
    target_ = target;
    replace_existing_ = replace_existing;
    to_stdout_ = is_standard_output(target);
    int code = 0;
    if (to_stdout_) {
        fd_ = pipe_temporary_file(temp_path_, code);
        if (fd_ < 0) error = system_error_text("cannot create a temporary file for", "standard output", code);
        return fd_ >= 0;
    }
    const fs::path path(target);
    const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    // Shortened so that the temporary name stays within the name limit of
    // the file system wherever the target's own name does.
    const std::string base = path.filename().string().substr(0, 160);
    // Readable too: the TIFF writer reads back directories it has written.
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path_ = (folder / ("." + base + temporary_suffix())).string();
        fd_ = ::open(temp_path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) return true;
        if (errno != EEXIST) break;
    }
    code = errno;
    temp_path_.clear();
    error = system_error_text("cannot write", target, code);
    return false;
}

int OutputFile::duplicate() const { return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }

std::FILE* OutputFile::stream(std::string& error) {
    const int fd = duplicate();
    std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (!file) {
        error = system_error_text("cannot write", target_, errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    errno = 0;
    return file;
}

bool OutputFile::close_stream(std::FILE* file, std::string& error) {
    // The reason of a failed write is still in errno unless a later call
    // replaced it; EIO stands in when it is gone.
    const bool write_failed = std::fflush(file) != 0 || std::ferror(file) != 0;
    const int code = errno;
    const bool close_failed = std::fclose(file) != 0;
    if (!write_failed && !close_failed) return true;
    error = system_error_text("cannot write", target_, write_failed && code ? code : close_failed ? errno : EIO);
    return false;
}

bool OutputFile::write(const void* data, size_t size, std::string& error) {
    int code = EBADF;
    if (fd_ >= 0 && write_all(fd_, static_cast<const uint8_t*>(data), size, code)) return true;
    error = system_error_text("cannot write", to_stdout_ ? "standard output" : target_, code);
    return false;
}

bool OutputFile::commit(std::string& error) {
    const std::string shown = to_stdout_ ? "standard output" : target_;
    if (fd_ < 0) {
        error = system_error_text("cannot write", shown, EBADF);
        return false;
    }
    if (to_stdout_) {
        // Copy the finished file to standard output.
        std::vector<uint8_t> buffer(1 << 16);
        int code = 0;
        bool ok = ::lseek(fd_, 0, SEEK_SET) == 0;
        if (!ok) code = errno;
        while (ok) {
            const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n < 0) ok = false, code = errno;
                break;
            }
            ok = write_all(STDOUT_FILENO, buffer.data(), size_t(n), code);
        }
        discard();
        if (!ok) error = system_error_text("cannot write", shown, code);
        return ok;
    }
    // The data must be on the disk before the name points at it; file
    // systems without fsync (EINVAL) have nothing further to flush.
    if (::fsync(fd_) != 0 && errno != EINVAL) {
        error = system_error_text("cannot write", shown, errno);
        discard();
        return false;
    }
    const int closed = ::close(fd_);
    const int close_code = errno;
    fd_ = -1;
    if (closed != 0) {
        error = system_error_text("cannot write", shown, close_code);
        discard();
        return false;
    }
    int code = 0;
    if (replace_existing_) {
        if (::rename(temp_path_.c_str(), target_.c_str()) != 0) code = errno;
    } else {
        code = rename_without_replacing(temp_path_, target_);
    }
    if (code != 0) {
        error = code == EEXIST ? target_ + " exists (not replaced)" : system_error_text("cannot write", shown, code);
        discard();
        return false;
    }
    temp_path_.clear();
    return true;
}

void OutputFile::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    temp_path_.clear();
}

bool write_file_safely(const std::string& target, const void* data, size_t size, bool replace_existing,
                       std::string& error) {
    OutputFile file;
    return file.open(target, replace_existing, error) && file.write(data, size, error) && file.commit(error);
}

bool write_file_through_stream(const std::string& target, bool replace_existing, std::string& error,
                               const std::function<bool(std::FILE*, std::string&)>& encode) {
    OutputFile output;
    if (!output.open(target, replace_existing, error)) return false;
    std::FILE* file = output.stream(error);
    if (!file) return false;
    std::string message;
    const bool ok = encode(file, message);
    if (!output.close_stream(file, error)) return false;
    if (!ok) {
        error = message;
        return false;
    }
    return output.commit(error);
}

}  // namespace ostel::exporting
