// ImageLocateDev: an output device that draws nothing and records, for every
// image XObject a page draws, its kind, source filter, JPEG quality estimate
// and the lowest resolution at which it is placed.
#pragma once

#include <cstdint>

#include <Object.h>
#include <OutputDev.h>

class XRef;
struct ImageRecord;

// Compression code (OSSEL_COMPRESSION_*) of a stream whose outermost filter
// is of the given reading-core kind, for an ordinary image (stencil = false)
// or a stencil mask (stencil = true); 0 when the kind has no code there.
int32_t CompressionForStreamKind(StreamKind kind, bool stencil);

class ImageLocateDev : public OutputDev {
public:
    // The device is usable when it has a cross-reference table.
    explicit ImageLocateDev(XRef *xref);
    ~ImageLocateDev() override;

    // The record table to fill, count records (element n for object n).
    void SetTable(ImageRecord *records, int32_t count) {
        records_ = records;
        count_ = count;
    }

    bool upsideDown() override { return true; }
    bool useDrawChar() override { return false; }
    // Glyph procedures of Type 3 fonts are not entered.
    bool interpretType3Chars() override { return false; }

    void drawImageMask(GfxState *state, Object *ref, Stream *str, int width, int height, bool invert,
                       bool interpolate, bool inlineImg) override;
    void drawImage(GfxState *state, Object *ref, Stream *str, int width, int height, GfxImageColorMap *colorMap,
                   bool interpolate, const int *maskColors, bool inlineImg) override;

    virtual bool isOk() { return ok_; }

private:
    // Records one placement; colorMap is null for a stencil mask.
    void Record(GfxState *state, Object *ref, Stream *str, int width, int height, GfxImageColorMap *colorMap,
                bool inlineImg);

    XRef *xref_;
    bool ok_;
    ImageRecord *records_ = nullptr;
    int32_t count_ = 0;
};
