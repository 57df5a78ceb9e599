#include "seal_wipe.h"

#include "seal_platform.h"
#include "sealkit.h"

#include <cstring>

namespace sealkit {

int32_t WipePath(const std::string& path, unsigned pauseMs) {
    LockedFile file;
    if (!file.OpenExisting(path, true)) return SEALKIT_ERR_OPEN;
    long long size = file.Size();
    if (size < 0) return SEALKIT_ERR_OPEN;

    const uint64_t blocks = WipeBlockCount(static_cast<uint64_t>(size));
    static const uint8_t fills[3] = {0x0F, 0xF0, 0x5A};
    uint8_t block[kWipeBlockSize];
    for (int pass = 0; pass < 3; ++pass) {
        std::memset(block, fills[pass], sizeof block);
        for (uint64_t i = 0; i < blocks; ++i) {
            // A failed write (a full disk, say) ends the pass; the file
            // is still deleted.
            if (!file.WriteAll(block, sizeof block)) break;
        }
        file.Flush();
        if (pass < 2) {
            SleepMilliseconds(pauseMs);
            file.SeekStart();
        }
    }
    file.Close();
    return DeleteFile(path) ? SEALKIT_OK : SEALKIT_ERR_OUTPUT;
}

}  // namespace sealkit
