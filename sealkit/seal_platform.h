// The few file and timing services the library needs, on POSIX: files held
// under an exclusive advisory lock, directory creation, flushing, deletion
// and waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sealkit {

// An open file descriptor, closed (which also drops its lock) on
// destruction.
class LockedFile {
public:
    LockedFile() = default;
    ~LockedFile() { Close(); }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    // Opens an existing regular file for reading (or reading and writing)
    // and takes an exclusive lock without waiting. False when the file is
    // missing, not a regular file, or locked by another holder.
    bool OpenExisting(const std::string& path, bool writable);
    // Opens or creates the regular file `path` for writing under an
    // exclusive lock and empties it. Refuses (false) a file that is the
    // same as `other` (same device and inode), so an input is never
    // truncated by its own output. A file it created and then refused is
    // removed again; `created` tells whether the file is new.
    bool CreateReplacing(const std::string& path, const LockedFile& other, bool& created);

    bool IsOpen() const { return fd_ >= 0; }
    // Reads up to `count` bytes, looping over short reads; -1 on error.
    long long ReadFull(uint8_t* data, size_t count);
    // Writes all `count` bytes; false on error.
    bool WriteAll(const uint8_t* data, size_t count);
    bool SeekStart();
    bool Flush();  // to the disk
    // Size in bytes; -1 on error.
    long long Size() const;
    bool Close();

private:
    int fd_ = -1;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
};

// Creates every missing directory on the path leading to the file `path`
// (not the file itself). Failures are ignored.
void CreateParentDirectories(const std::string& path);

bool DeleteFile(const std::string& path);

void SleepMilliseconds(unsigned ms);

}  // namespace sealkit
