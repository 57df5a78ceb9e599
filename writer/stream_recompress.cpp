// Recompression of non-image streams: the decoded data is compressed again
// with Flate at the configured level (level 0 or below writes the decoded
// bytes themselves).
#include "pdf_writer.h"

#include <Dict.h>
#include <Stream.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "writer_internal.h"

using namespace osselwriter;

namespace {

// Output blocks of one stream: all are kept until the stream is written,
// because its Length comes first.
struct OutputBlocks {
    struct Block {
        std::unique_ptr<unsigned char[]> data;
        size_t used = 0;
    };
    std::vector<Block> blocks;
    uint64_t total = 0;

    Block &Current()
    {
        if (blocks.empty() || blocks.back().used == kOutputBlock) {
            blocks.push_back(Block{std::make_unique<unsigned char[]>(kOutputBlock), 0});
        }
        return blocks.back();
    }

    void Append(const unsigned char *bytes, size_t n)
    {
        while (n > 0) {
            Block &b = Current();
            const size_t take = std::min(n, kOutputBlock - b.used);
            memcpy(b.data.get() + b.used, bytes, take);
            b.used += take;
            total += take;
            bytes += take;
            n -= take;
        }
    }

    // Feeds `have` bytes to the compressor; finish after the last block.
    bool Deflate(z_stream &zs, unsigned char *input, size_t have, bool finish)
    {
        zs.next_in = input;
        zs.avail_in = static_cast<uInt>(have);
        for (;;) {
            Block &b = Current();
            zs.next_out = b.data.get() + b.used;
            zs.avail_out = static_cast<uInt>(kOutputBlock - b.used);
            const int rc = deflate(&zs, finish ? Z_FINISH : Z_NO_FLUSH);
            const size_t produced = kOutputBlock - b.used - zs.avail_out;
            b.used += produced;
            total += produced;
            if (rc == Z_STREAM_ERROR) {
                return false;
            }
            if (finish) {
                if (rc == Z_STREAM_END) {
                    return true;
                }
            } else if (zs.avail_in == 0) {
                return true;
            }
        }
    }
};

} // namespace

bool PDFWriter::WriteStreamRecompressed(Stream *stream, Dict *dict, int32_t objNum, int32_t objGen)
{
    int level = FlateLevel();
    // zlib knows no level above 9; such a setting compresses at 9.
    if (level > 9) {
        level = 9;
    }
    const bool compress = level >= 1;

    z_stream zs{};
    if (compress && deflateInit2(&zs, level, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }

    OutputBlocks out;
    std::vector<unsigned char> input(kInputBlock);
    uint64_t decoded = 0;
    bool ok = true;
    bool ended = false;
    stream->reset();
    while (!ended) {
        size_t have = 0;
        while (have < input.size()) {
            const int got = stream->doGetChars(static_cast<int>(input.size() - have), input.data() + have);
            if (got <= 0) {
                ended = true;
                break;
            }
            have += static_cast<size_t>(got);
        }
        decoded += have;
        if (decoded > decodedLimit_) {
            ok = false;
            break;
        }
        if (compress) {
            if (!out.Deflate(zs, input.data(), have, ended)) {
                ok = false;
                break;
            }
        } else {
            out.Append(input.data(), have);
        }
    }
    if (compress) {
        deflateEnd(&zs);
    }
    stream->close();
    if (!ok) {
        // Too large once decoded, or the compressor failed: the caller copies
        // the stream as stored. Nothing has been written or changed yet.
        return false;
    }

    RemoveKeepingOrder(dict, "Filter");
    RemoveKeepingOrder(dict, "DecodeParms");
    if (compress && dict) {
        dict->add("Filter", Object(objName, "FlateDecode"));
    }
    SetStreamLength(dict, static_cast<int64_t>(out.total));
    WriteDict(dict, objNum, objGen);
    Printf("%cstream%c", '\n', '\n');
    if (encrypting_) {
        SetObjectKey(objNum, objGen);
    }
    for (auto &block : out.blocks) {
        if (block.used == 0) {
            continue;
        }
        if (encrypting_) {
            EncryptBytes(block.data.get(), block.used);
        }
        WriteBytes(block.data.get(), block.used);
        block.data.reset();
    }
    WriteText("endstream");
    return true;
}
