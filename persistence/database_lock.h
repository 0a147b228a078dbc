#pragma once
// One program at a time owns the settings database of a data folder. The
// owner holds an advisory lock on a lock file that names its process; the
// kernel drops the lock when the process ends, however it ends, so a crash
// never leaves the folder locked.
#include <string>

namespace ostel::persistence {

class DatabaseLock {
public:
    DatabaseLock() = default;
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    ~DatabaseLock() { release(); }

    // Takes the lock on `path` without waiting. False when another process
    // holds it (`owner` is then its process id, 0 when unknown) or the lock
    // file cannot be made (`error` says why).
    bool acquire(const std::string& path, long& owner, std::string& error);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace ostel::persistence
