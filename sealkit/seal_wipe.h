// Overwriting and deleting a file.
#pragma once

#include <cstdint>
#include <string>

namespace sealkit {

constexpr uint64_t kWipeBlockSize = 4096;

// Blocks of 4,096 bytes each overwrite pass writes for a file of `size`
// bytes: two more than its whole blocks.
constexpr uint64_t WipeBlockCount(uint64_t size) { return size / kWipeBlockSize + 2; }

// Overwrites the file three times (0x0F, 0xF0, 0x5A; each pass flushed to
// disk, `pauseMs` between passes) under an exclusive lock, then deletes
// it. 0 done, -1 cannot be opened or is locked, -2 cannot be deleted.
int32_t WipePath(const std::string& path, unsigned pauseMs);

}  // namespace sealkit
