#include "image_locate_dev.h"

#include <cmath>

#include <GfxState.h>
#include <Stream.h>
#include <XRef.h>

#include "image_survey.h"
#include "jpeg_quality.h"

int32_t CompressionForStreamKind(StreamKind kind, bool stencil) {
    switch (kind) {
    case strFile:
    case strCachedFile:
    case strCrypt: // decrypted but otherwise unfiltered data
        return OSSEL_COMPRESSION_NONE;
    case strRunLength:
        return OSSEL_COMPRESSION_CCITTRLE;
    case strCCITTFax:
        return OSSEL_COMPRESSION_CCITTFAX4;
    case strLZW:
        return OSSEL_COMPRESSION_LZW;
    case strFlate:
        return OSSEL_COMPRESSION_DEFLATE;
    case strJBIG2:
        return OSSEL_COMPRESSION_JBIG2;
    case strDCT:
        return stencil ? 0 : OSSEL_COMPRESSION_JPEG;
    case strJPX:
        return stencil ? 0 : OSSEL_COMPRESSION_JPEG2000;
    default: // ASCIIHex, ASCII85 and the reading core's internal kinds
        return 0;
    }
}

ImageLocateDev::ImageLocateDev(XRef *xref) : xref_(xref), ok_(xref != nullptr) {}

ImageLocateDev::~ImageLocateDev() = default;

void ImageLocateDev::drawImageMask(GfxState *state, Object *ref, Stream *str, int width, int height, bool /*invert*/,
                                   bool /*interpolate*/, bool inlineImg) {
    Record(state, ref, str, width, height, nullptr, inlineImg);
}

void ImageLocateDev::drawImage(GfxState *state, Object *ref, Stream *str, int width, int height,
                               GfxImageColorMap *colorMap, bool /*interpolate*/, const int * /*maskColors*/,
                               bool inlineImg) {
    if (colorMap == nullptr) {
        return;
    }
    Record(state, ref, str, width, height, colorMap, inlineImg);
}

void ImageLocateDev::Record(GfxState *state, Object *ref, Stream *str, int width, int height,
                            GfxImageColorMap *colorMap, bool inlineImg) {
    if (inlineImg || ref == nullptr || !ref->isRef() || state == nullptr || str == nullptr || records_ == nullptr) {
        return;
    }
    const int num = ref->getRefNum();
    if (num <= 0 || num >= count_ || width <= 0 || height <= 0) {
        return;
    }
    const bool stencil = colorMap == nullptr;
    int32_t compression = CompressionForStreamKind(str->getKind(), stencil);
    if (compression == 0 && static_cast<Stream *>(str->getBaseStream()) == str) {
        // Unfiltered data over a base stream of another kind (a document
        // read from memory): no filter at all.
        compression = OSSEL_COMPRESSION_NONE;
    }
    if (compression == 0) {
        return;
    }

    // Resolution along the image's own axes: the length of the transformed
    // x unit vector, and the area scale divided by it for the other axis.
    const double *ctm = state->getCTM();
    const double sx = std::sqrt(ctm[0] * ctm[0] + ctm[1] * ctm[1]);
    if (!(sx > 0.0) || !std::isfinite(sx)) {
        return; // degenerate placement: nothing visible, no resolution
    }
    const double sy = std::fabs(ctm[0] * ctm[3] - ctm[1] * ctm[2]) / sx;
    if (!(sy > 0.0) || !std::isfinite(sy)) {
        return;
    }
    const double hdpi = width * 72.0 / sx;
    const double vdpi = height * 72.0 / sy;
    if (!std::isfinite(hdpi) || !std::isfinite(vdpi)) {
        return;
    }

    ImageRecord &rec = records_[num];
    if (!rec.placed) {
        rec.placed = true;
        rec.bitsPerComponent = stencil ? 1 : colorMap->getBits();
        rec.components = stencil ? 1 : colorMap->getNumPixelComps();
        rec.sourceCompression = compression;
        rec.sourceJpegQuality = -1;
        if (compression == OSSEL_COMPRESSION_JPEG) {
            // The DCT decoder's input holds the JPEG bytes after decryption
            // and any earlier filters.
            rec.sourceJpegQuality = EstimateJpegQuality(str->getNextStream());
        }
    }
    if (rec.horizontalDpi < 0.0 || rec.horizontalDpi > hdpi) {
        rec.horizontalDpi = hdpi;
    }
    if (rec.verticalDpi < 0.0 || rec.verticalDpi > vdpi) {
        rec.verticalDpi = vdpi;
    }
}
