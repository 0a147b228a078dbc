#include "persistence/database_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostel::persistence {

bool DatabaseLock::acquire(const std::string& path, long& owner, std::string& error) {
    release();
    owner = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        const int code = errno;
        if (code == EWOULDBLOCK) {
            char text[32] = {};
            const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
            if (n > 0) owner = std::strtol(text, nullptr, 10);
        } else {
            error = "cannot lock " + path + ": " + std::strerror(code);
        }
        ::close(fd);
        return false;
    }
    // The process id is for people and messages; the lock itself is what
    // keeps a second program out.
    const std::string pid = std::to_string(long(::getpid())) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    }
    fd_ = fd;
    return true;
}

void DatabaseLock::release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing drops the lock
    fd_ = -1;
}

}  // namespace ostel::persistence
