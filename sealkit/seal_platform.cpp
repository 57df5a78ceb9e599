#include "seal_platform.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace sealkit {

bool LockedFile::OpenExisting(const std::string& path, bool writable) {
    Close();
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
}

bool LockedFile::CreateReplacing(const std::string& path, const LockedFile& other, bool& created) {
    Close();
    created = false;
    if (path.empty()) return false;
    // Not O_TRUNC: the file is emptied only once it is known not to be
    // `other` and no one else holds its lock.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd >= 0) {
        created = true;
    } else if (errno == EEXIST) {
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    }
    if (fd < 0) return false;
    struct stat st;
    // Only a regular file is accepted: devices and pipes could block or
    // could not be emptied.
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok && other.IsOpen() && st.st_dev == other.device_ && st.st_ino == other.inode_) ok = false;
    if (ok) ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) ok = ::ftruncate(fd, 0) == 0;
    if (!ok) {
        ::close(fd);
        if (created) ::unlink(path.c_str());
        created = false;
        return false;
    }
    fd_ = fd;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return true;
}

long long LockedFile::ReadFull(uint8_t* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd_, data + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<long long>(done);
}

bool LockedFile::WriteAll(const uint8_t* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd_, data + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool LockedFile::SeekStart() { return ::lseek(fd_, 0, SEEK_SET) == 0; }

bool LockedFile::Flush() { return ::fsync(fd_) == 0; }

long long LockedFile::Size() const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool LockedFile::Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

void CreateParentDirectories(const std::string& path) {
    size_t end = path.rfind('/');
    if (end == std::string::npos || end == 0) return;
    std::string dir = path.substr(0, end);
    // Create each prefix in turn; existing ones fail with EEXIST.
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            if (dir[pos - 1] == '/') continue;
            ::mkdir(dir.substr(0, pos).c_str(), 0777);
        }
    }
}

bool DeleteFile(const std::string& path) { return !path.empty() && ::unlink(path.c_str()) == 0; }

void SleepMilliseconds(unsigned ms) {
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace sealkit

