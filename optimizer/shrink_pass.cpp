#include "shrink_pass.h"

#include <PDFDoc.h>
#include <XRef.h>
#include <Object.h>
#include <Dict.h>
#include <Stream.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "image_survey.h"
#include "input_fetch.h"
#include "ossel.h"
#include "settings.h"

namespace {

// The Length step: when object num is a stream whose /Length is an indirect
// reference to a number, that number object is not written (the writer
// writes every stream's length directly). A /Length that refers to anything
// else (a damaged or hostile file) leaves that object alone.
void FreeIndirectLength(XRef *xref, ObjectTable &table, int num, int gen) {
    // A stream is never stored inside an object stream: skip those without parsing them.
    if (num > 0 && num < xref->getNumObjects()) {
        XRefEntry *entry = xref->getEntry(num, false);
        if (!entry || entry->type != xrefEntryUncompressed)
            return;
    }
    Object obj = FetchInUse(xref, num, gen);
    if (!obj.isStream())
        return;
    Dict *dict = obj.streamGetDict();
    if (!dict)
        return;
    const Object &length = dict->lookupNF("Length");
    if (!length.isRef())
        return;
    Ref ref = length.getRef();
    if (ref.num == num)
        return;
    Object target = FetchInUse(xref, ref.num, ref.gen);
    if (!target.isInt() && !target.isInt64() && !target.isReal())
        return;
    table.Get(ref.num).action = actionFree;
}

// Whether the JPEG rule keeps image i as it is: a DCT image that would be
// downsampled and written as JPEG again, whose estimated quality is already
// at most the quality setting + 5. Reports it when verbose.
bool KeepJpegAsIs(const OptimizerSettings *settings, const ImageRecord &e, int i) {
    if (e.bitsPerComponent != 8 || e.sourceCompression != OSSEL_COMPRESSION_JPEG)
        return false;
    const ImageClassSettings &c = (e.components == 1) ? settings->gray : settings->color;
    double k = c.downsampleThreshold * c.resolution + 0.5;
    bool wouldDownsample = c.downsample && (e.horizontalDpi > k || e.verticalDpi > k);
    if (!wouldDownsample || !c.encode || c.compression != OSSEL_COMPRESSION_JPEG ||
        e.sourceJpegQuality > c.jpegQuality + 5)
        return false;
    if (OsselVerbose() && settings->callbacks) {
        char text[160];
        std::snprintf(text, sizeof text, "Not recompressing JPEG image %d because current quality %d < setting %d\n", i,
                      e.sourceJpegQuality, c.jpegQuality + 5);
        ReportMessage(settings, text);
    }
    return true;
}

// Seams for the steps that change the plan after it is made. They are not
// built yet and leave the plan as it is.

// Duplicate images: would redirect every image that repeats another.
void RemoveDuplicateImagesStep(PDFDoc *, ObjectTable &, OptimizerSettings *) {}

// Catalog cleanup (metadata): would store a changed catalog.
void CatalogCleanupStep(PDFDoc *, ObjectTable &, OptimizerSettings *, bool *stopRequested) { (void)stopRequested; }

// Page cleanup (piece info, thumbnails, fonts): would store changed pages.
void PageCleanupStep(PDFDoc *, ObjectTable &, OptimizerSettings *, bool *stopRequested) { (void)stopRequested; }

// Output encryption is not available yet. Writing the file unencrypted when
// encryption was asked for would hand out an unprotected document as if it
// were protected, so the run fails instead.
bool SetupOutputEncryption(PDFWriter *, const OptimizerSettings *settings) {
    ReportError(settings, "Error: output encryption is not available in this build\n");
    return false;
}

} // namespace

ObjectWriteCallback ImageWriteCallback() {
    // No image processor yet: images the plan would recompress are copied.
    return nullptr;
}

void PlanObjects(PDFDoc *doc, OptimizerSettings *settings, ObjectTable &table, ObjectWriteCallback imageCallback) {
    if (!doc || !settings || !settings->imageRecords)
        return;
    XRef *xref = doc->getXRef();
    if (!xref)
        return;
    // Marks the containers of cross-reference streams and object streams.
    xref->scanSpecialFlags();
    const int32_t count = settings->imageRecordCount;
    const bool verbose = OsselVerbose();
    for (int32_t i = 1; i < count; ++i) {
        const ImageRecord &e = settings->imageRecords[i];
        if (!e.inUse) {
            table.Get(i).action = actionFree;
            continue;
        }
        ObjectTableEntry &entry = table.Get(i);
        entry.gen = e.generation;
        if (!e.placed) {
            if (i < xref->getNumObjects()) {
                XRefEntry *x = xref->getEntry(i, false);
                if (x && x->type == xrefEntryUncompressed && x->getFlag(XRefEntry::DontRewrite)) {
                    entry.action = actionFree;
                    continue;
                }
            }
            if (settings->recompressStreams)
                FreeIndirectLength(xref, table, i, e.generation);
            continue;
        }
        if (e.bitsPerComponent != 1 && e.bitsPerComponent != 8) {
            if (verbose && settings->callbacks) {
                char text[96];
                std::snprintf(text, sizeof text, "Skipping image %d because it isn't 8 or 16 bits per pixel\n", i);
                ReportMessage(settings, text);
            }
            continue;
        }
        if (KeepJpegAsIs(settings, e, i))
            continue;
        if (!imageCallback)
            continue; // no image processor: copied unchanged
        entry.action = actionCallback; // std::map keeps references valid across inserts
        entry.writeCallback = imageCallback;
        FreeIndirectLength(xref, table, i, e.generation);
    }
    // The reading core rebuilds the cross-reference table of a damaged file
    // when an object it needs is missing, which can happen during the
    // survey, after the record table was made. Numbers beyond the records
    // are planned from the rebuilt table: free entries are not written,
    // entries in use are copied with their generation.
    const int32_t size = xref->getNumObjects();
    for (int32_t i = std::max<int32_t>(count, 1); i < size; ++i) {
        XRefEntry *x = xref->getEntry(i, false);
        ObjectTableEntry &entry = table.Get(i);
        if (x && x->type == xrefEntryUncompressed) {
            entry.gen = x->gen;
        } else if (x && x->type == xrefEntryCompressed) {
            entry.gen = 0;
        } else {
            entry.action = actionFree;
        }
    }
}

int ShrinkPass(PDFDoc *doc, OptimizerSettings *settings, const char *outFile) {
    if (!doc || !settings || !outFile)
        return OSSEL_ERR_ARGUMENTS;
    if (settings->callbacks && ReportStatus(settings, "Shrinking PDF...") != 0)
        return OSSEL_ERR_STOPPED;

    std::unique_ptr<PDFWriter> writer(new (std::nothrow) PDFWriter(doc, settings));
    if (!writer)
        return OSSEL_ERR_WRITE;
    if (settings->encrypt && !SetupOutputEncryption(writer.get(), settings))
        return OSSEL_ERR_WRITE;

    ObjectTable &table = writer->Table();
    PlanObjects(doc, settings, table, ImageWriteCallback());

    bool stopRequested = false;
    if (settings->removeDuplicateObjects)
        RemoveDuplicateImagesStep(doc, table, settings);
    if (settings->removeMetadata)
        CatalogCleanupStep(doc, table, settings, &stopRequested);
    if (settings->removePieceInfo || settings->removeThumbnails || settings->removeBase14Fonts ||
        settings->removeAllFonts)
        PageCleanupStep(doc, table, settings, &stopRequested);
    if (stopRequested)
        return OSSEL_ERR_STOPPED;

    return writer->WriteFile(outFile) ? OSSEL_OK : OSSEL_ERR_WRITE;
}
