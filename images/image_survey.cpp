#include "image_survey.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <new>

#include <PDFDoc.h>
#include <XRef.h>
#include <Object.h>
#include <Dict.h>
#include <Stream.h>

#include "image_locate_dev.h"
#include "input_fetch.h"

namespace {

// The callbacks of the run, each called only when present.
int32_t CallStatus(const OptimizerSettings *s, const char *text) {
    const StatusCallbackRecord *cb = s->callbacks;
    return cb != nullptr && cb->status != nullptr ? cb->status(cb->userData, text) : 0;
}

int32_t CallBegin(const OptimizerSettings *s) {
    const StatusCallbackRecord *cb = s->callbacks;
    return cb != nullptr && cb->begin != nullptr ? cb->begin(cb->userData) : 0;
}

int32_t CallEnd(const OptimizerSettings *s) {
    const StatusCallbackRecord *cb = s->callbacks;
    return cb != nullptr && cb->end != nullptr ? cb->end(cb->userData) : 0;
}

int32_t CallProgress(const OptimizerSettings *s, double fraction) {
    const StatusCallbackRecord *cb = s->callbacks;
    return cb != nullptr && cb->progress != nullptr ? cb->progress(cb->userData, fraction) : 0;
}

// Hands the resolutions of the drawn image `from` on to the stream its dict
// entry `key` refers to.
void MarkMaskTarget(XRef *xref, ImageRecord *records, int32_t count, Dict *dict, const char *key,
                    const ImageRecord &from) {
    const Object &ref = dict->lookupNF(key);
    if (!ref.isRef()) {
        return; // absent, or a colour-key /Mask array
    }
    const int num = ref.getRefNum();
    if (num <= 0 || num >= count) {
        return;
    }
    // Only a stream that really exists becomes a mask target; a dangling
    // reference must not turn a free entry into one the writer fetches.
    Object target = FetchInUse(xref, num, ref.getRefGen());
    if (!target.isStream()) {
        return;
    }
    Dict *td = target.getStream()->getDict();
    ImageRecord &rec = records[num];
    rec.inUse = true;
    rec.placed = true;
    rec.maskTarget = true;
    rec.undrawn = false;
    rec.horizontalDpi = from.horizontalDpi;
    rec.verticalDpi = from.verticalDpi;
    Object bpc = td->lookup("BitsPerComponent");
    if (bpc.isInt()) {
        rec.bitsPerComponent = bpc.getInt();
    } else {
        // A stencil mask may omit the depth: it is 1. Anything else stays
        // at 0, which leaves the object unprocessed.
        Object imageMask = td->lookup("ImageMask");
        rec.bitsPerComponent = imageMask.isBool() && imageMask.getBool() ? 1 : 0;
    }
}

// After the pages: masks of drawn images take over their resolutions, and
// image XObjects that no page draws are marked.
void PostPass(XRef *xref, ImageRecord *records, int32_t count) {
    for (int32_t i = 1; i < count; ++i) {
        ImageRecord &rec = records[i];
        if (!rec.inUse) {
            continue;
        }
        if (!rec.placed) {
            Object obj = FetchInUse(xref, i, rec.generation);
            if (!obj.isStream()) {
                continue;
            }
            Dict *d = obj.getStream()->getDict();
            Object type = d->lookup("Type");
            Object subtype = d->lookup("Subtype");
            if (type.isName("XObject") && subtype.isName("Image")) {
                rec.placed = true;
                rec.undrawn = true;
            }
            continue;
        }
        if (rec.undrawn) {
            continue; // marked in this pass; its masks are not drawn either
        }
        Object obj = FetchInUse(xref, i, rec.generation);
        if (!obj.isStream()) {
            continue;
        }
        Dict *d = obj.getStream()->getDict();
        const ImageRecord from = rec;
        MarkMaskTarget(xref, records, count, d, "SMask", from);
        MarkMaskTarget(xref, records, count, d, "Mask", from);
    }
}

} // namespace

int BuildImageRecordTable(PDFDoc *doc, OptimizerSettings *settings) {
    if (settings == nullptr) {
        return kSurveyNoMemory;
    }
    FreeImageRecordTable(settings);
    XRef *xref = doc != nullptr ? doc->getXRef() : nullptr;
    if (xref == nullptr) {
        return kSurveyNoMemory;
    }
    int n = xref->getNumObjects();
    if (n < 1) {
        n = 1; // element 0 always exists
    }
    auto *records = static_cast<ImageRecord *>(std::calloc(static_cast<size_t>(n), sizeof(ImageRecord)));
    if (records == nullptr) {
        return kSurveyNoMemory;
    }
    for (int i = 0; i < n; ++i) {
        ImageRecord &rec = records[i];
        rec.horizontalDpi = -1.0;
        rec.verticalDpi = -1.0;
        if (i >= xref->getNumObjects()) {
            continue;
        }
        const XRefEntry *e = xref->getEntry(i, false);
        if (e == nullptr) {
            continue;
        }
        switch (e->type) {
        case xrefEntryUncompressed:
            rec.inUse = true;
            rec.generation = e->gen;
            break;
        case xrefEntryCompressed:
            rec.inUse = true;
            rec.generation = 0;
            break;
        case xrefEntryFree:
            rec.generation = e->gen;
            break;
        default:
            break;
        }
    }
    settings->imageRecords = records;
    settings->imageRecordCount = n;
    return kSurveyOk;
}

void FreeImageRecordTable(OptimizerSettings *settings) {
    if (settings == nullptr) {
        return;
    }
    std::free(settings->imageRecords);
    settings->imageRecords = nullptr;
    settings->imageRecordCount = 0;
}

int RunImageSurvey(PDFDoc *doc, OptimizerSettings *settings) {
    if (settings == nullptr) {
        return kSurveyNoMemory;
    }
    int status = kSurveyOk;
    if (CallStatus(settings, "Scanning PDF...") != 0) {
        return kSurveyCancelled;
    }
    if (CallBegin(settings) != 0) {
        status = kSurveyCancelled; // the pages are still surveyed
    }

    if (BuildImageRecordTable(doc, settings) != kSurveyOk) {
        CallEnd(settings);
        return kSurveyNoMemory;
    }
    XRef *xref = doc->getXRef();

    {
        auto dev = std::make_unique<ImageLocateDev>(xref);
        dev->SetTable(settings->imageRecords, settings->imageRecordCount);
        if (!dev->isOk()) {
            status = kSurveyDeviceNotOk;
        } else {
            const int pages = doc->getNumPages();
            const double step = pages > 0 ? 0.98 / pages : 0.0;
            double progress = 0.0;
            double lastReported = 0.0;
            int32_t cancel = 0;
            for (int p = 1; p <= pages; ++p) {
                if (cancel != 0) {
                    status = kSurveyCancelled;
                    break;
                }
                if (settings->callbacks != nullptr && lastReported + 0.05 <= progress) {
                    cancel = CallProgress(settings, std::floor(progress * 100.0) / 100.0);
                    lastReported = progress;
                }
                doc->displayPage(dev.get(), p, 72.0, 72.0, 0, false /*useMediaBox*/, true /*crop*/,
                                 false /*printing*/);
                progress += step;
            }
            // A cancel answered at the last page still stops the run.
            if (cancel != 0) {
                status = kSurveyCancelled;
            }
        }
    }

    if (status == kSurveyOk) {
        PostPass(xref, settings->imageRecords, settings->imageRecordCount);
        if (settings->callbacks != nullptr && CallProgress(settings, 1.0) != 0) {
            status = kSurveyCancelled;
        }
    }
    if (settings->callbacks != nullptr && CallEnd(settings) != 0) {
        status = kSurveyCancelled;
    }
    return status;
}
