#include "persistence/stored_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace ostel::persistence {

namespace {

constexpr size_t kChunk = 16384;
constexpr int kLevel = 5;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes and reports whether the close succeeded (delayed write errors
    // show up here on some file systems).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

std::string error_text(const std::string& what, int code) { return what + ": " + std::strerror(code); }

// Reads up to `size` bytes; -1 on error.
ssize_t read_some(int fd, unsigned char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

bool write_all(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

Fd create_new(const std::string& path) {
    return Fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

// Flushes and closes `out`, then renames it over `target`.
bool commit_file(Fd& out, const std::string& temp, const std::string& target, std::string& error) {
    if (::fsync(out.get()) != 0) {
        error = error_text("cannot flush " + temp, errno);
        return false;
    }
    if (!out.close()) {
        error = error_text("cannot close " + temp, errno);
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        error = error_text("cannot rename " + temp + " to " + target, errno);
        return false;
    }
    sync_folder(folder_of(target));
    return true;
}

}  // namespace

bool file_exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

void sync_folder(const std::string& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

std::string set_aside(const std::string& path) {
    std::string name = path + ".bad";
    for (int n = 1; file_exists(name) && n < 10000; ++n) name = path + ".bad." + std::to_string(n);
    if (file_exists(name) || ::rename(path.c_str(), name.c_str()) != 0) return {};
    sync_folder(folder_of(path));
    return name;
}

InflateResult inflate_file(const std::string& stored, const std::string& target, std::string& error) {
    Fd in(::open(stored.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        if (errno == ENOENT) return InflateResult::missing;
        error = error_text("cannot open " + stored, errno);
        return InflateResult::unreadable;
    }
    const std::string temp = target + ".new";
    Fd out = create_new(temp);
    if (!out) {
        error = error_text("cannot create " + temp, errno);
        return InflateResult::write_failed;
    }
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        remove_file(temp);
        error = "cannot start decompression";
        return InflateResult::write_failed;
    }
    std::vector<unsigned char> input(kChunk), output(kChunk);
    InflateResult result = InflateResult::ok;
    int rc = Z_OK;
    while (rc != Z_STREAM_END && result == InflateResult::ok) {
        const ssize_t n = read_some(in.get(), input.data(), input.size());
        if (n < 0) {
            error = error_text("cannot read " + stored, errno);
            result = InflateResult::unreadable;
            break;
        }
        if (n == 0) {
            error = stored + " ends before its compressed data does";
            result = InflateResult::damaged;
            break;
        }
        z.next_in = input.data();
        z.avail_in = uInt(n);
        do {
            z.next_out = output.data();
            z.avail_out = uInt(output.size());
            rc = inflate(&z, Z_NO_FLUSH);
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                error = stored + " holds damaged compressed data" + (z.msg ? std::string(" (") + z.msg + ")" : "");
                result = InflateResult::damaged;
                break;
            }
            const size_t produced = output.size() - z.avail_out;
            if (!write_all(out.get(), output.data(), produced)) {
                error = error_text("cannot write " + temp, errno);
                result = InflateResult::write_failed;
                break;
            }
        } while (z.avail_out == 0 && rc != Z_STREAM_END);
    }
    inflateEnd(&z);
    if (result == InflateResult::ok && !commit_file(out, temp, target, error)) result = InflateResult::write_failed;
    if (result != InflateResult::ok) {
        out.close();
        remove_file(temp);
    }
    return result;
}

bool deflate_file_replacing(const std::string& source, const std::string& target, std::string& error) {
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in) {
        error = error_text("cannot open " + source, errno);
        return false;
    }
    const std::string temp = target + ".new";
    Fd out = create_new(temp);
    if (!out) {
        error = error_text("cannot create " + temp, errno);
        return false;
    }
    z_stream z{};
    if (deflateInit(&z, kLevel) != Z_OK) {
        remove_file(temp);
        error = "cannot start compression";
        return false;
    }
    std::vector<unsigned char> input(kChunk), output(kChunk);
    bool ok = true;
    int flush = Z_NO_FLUSH;
    while (ok && flush != Z_FINISH) {
        const ssize_t n = read_some(in.get(), input.data(), input.size());
        if (n < 0) {
            error = error_text("cannot read " + source, errno);
            ok = false;
            break;
        }
        flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
        z.next_in = input.data();
        z.avail_in = uInt(n);
        do {
            z.next_out = output.data();
            z.avail_out = uInt(output.size());
            deflate(&z, flush);
            const size_t produced = output.size() - z.avail_out;
            if (!write_all(out.get(), output.data(), produced)) {
                error = error_text("cannot write " + temp, errno);
                ok = false;
                break;
            }
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    if (ok) ok = commit_file(out, temp, target, error);
    if (!ok) {
        out.close();
        remove_file(temp);
    }
    return ok;
}

}  // namespace ostel::persistence
