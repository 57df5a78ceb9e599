// settings.cpp - reads the option handle into the typed settings of one run
// and delivers reports through the caller's status callbacks.
#include "settings.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tagopt_internal.h"

namespace {

// Process-wide: runs in one process never overlap.
bool gVerbose = false;

bool Equals(const char *value, const char *text)
{
    return value != nullptr && std::strcmp(value, text) == 0;
}

// Resampling filter names understood by the resampler.
const char *ResampleFilterFor(const char *downsampleType)
{
    if (Equals(downsampleType, "Average")) {
        return "box";
    }
    if (Equals(downsampleType, "Bicubic")) {
        return "triangle";
    }
    return "point";
}

int32_t CompressionFor(const char *filter)
{
    struct Mapping {
        const char *name;
        int32_t code;
    };
    static const Mapping kMappings[] = {
        {"DCTEncode", OSSEL_COMPRESSION_JPEG},
        {"CCITTFaxEncode", OSSEL_COMPRESSION_CCITTFAX4},
        {"CCITTFax3Encode", OSSEL_COMPRESSION_CCITTFAX3},
        {"RunLengthEncode", OSSEL_COMPRESSION_CCITTRLE},
        {"LZWEncode", OSSEL_COMPRESSION_LZW},
        {"JPXEncode", OSSEL_COMPRESSION_JPEG2000},
    };
    for (const Mapping &m : kMappings) {
        if (Equals(filter, m.name)) {
            return m.code;
        }
    }
    return OSSEL_COMPRESSION_DEFLATE;
}

const char *NullIfEmpty(const char *text)
{
    return (text == nullptr || text[0] == '\0') ? nullptr : text;
}

// The option name before + prefix + after, e.g. "Encode" "Gray" "Images".
// Every name of the table fits the buffer.
class ClassOption {
public:
    ClassOption(const char *before, const char *prefix, const char *after)
    {
        std::snprintf(text_, sizeof text_, "%s%s%s", before, prefix, after);
    }
    const char *c_str() const { return text_; }

private:
    char text_[64];
};

// Reads the options of one image class, whose option names are built from
// prefix ("Mono", "Gray" or "Color"). Returns the error text of the first
// invalid value, or null.
const char *ReadImageClass(tagopt_handle *h, const char *prefix, ImageClassSettings *c)
{
    auto name = [prefix](const char *before, const char *after) {
        return ClassOption(before, prefix, after);
    };
    c->downsample = tagopt_get_bool(h, name("Downsample", "Images").c_str()) != 0;
    c->resampleFilter = ResampleFilterFor(tagopt_get(h, name("", "ImageDownsampleType").c_str()));
    c->downsampleThreshold = tagopt_get_double(h, name("", "ImageDownsampleThreshold").c_str());
    c->resolution = tagopt_get_double(h, name("", "ImageResolution").c_str());
    // A resolution that is not a finite number would poison every size
    // computed from it, so it is refused like one that is too small.
    if (!std::isfinite(c->resolution) || c->resolution < 5.0) {
        return "Error: invalid resolution value\n";
    }
    c->encode = tagopt_get_bool(h, name("Encode", "Images").c_str()) != 0;
    c->compression = CompressionFor(tagopt_get(h, name("", "ImageFilter").c_str()));
    c->flateLevel = tagopt_get_int(h, name("", "ImageFlateLevel").c_str());
    if (c->flateLevel < 4) {
        return "Error: invalid flatelevel value\n";
    }
    if (!Equals(prefix, "Mono")) {
        c->jpegQuality = tagopt_get_int(h, name("", "ImageJPEGQuality").c_str());
        if (c->jpegQuality < 5) {
            return "Error: invalid JPEG quality value\n";
        }
        c->jpxQuality = tagopt_get_int(h, name("", "ImageJPXQuality").c_str());
        if (c->jpxQuality < 5) {
            return "Error: invalid JPX quality value\n";
        }
    }
    return nullptr;
}

} // namespace

bool OsselVerbose()
{
    return gVerbose;
}

void SetOsselVerbose(bool verbose)
{
    gVerbose = verbose;
}

int ReadOptimizerSettings(tagopt_handle *options, OptimizerSettings *settings)
{
    if (options == nullptr || settings == nullptr) {
        return -1;
    }
    ossel_set_defaults(settings);
    SetOsselVerbose(tagopt_get_bool(options, "v") != 0);
    settings->callbacks = reinterpret_cast<StatusCallbackRecord *>(
        const_cast<char *>(tagopt_get(options, "StatusCallbacks")));

    struct Class {
        const char *prefix;
        ImageClassSettings *settings;
    };
    const Class classes[] = {
        {"Mono", &settings->mono},
        {"Gray", &settings->gray},
        {"Color", &settings->color},
    };
    for (const Class &c : classes) {
        if (const char *error = ReadImageClass(options, c.prefix, c.settings)) {
            ReportError(settings, error);
            return -1;
        }
    }

    settings->encrypt = tagopt_get_bool(options, "encrypt") != 0;
    settings->keyLength = tagopt_get_int(options, "keyLength");
    settings->ownerPass = NullIfEmpty(tagopt_get(options, "ownerPass"));
    settings->openPass = NullIfEmpty(tagopt_get(options, "openPass"));

    struct Permission {
        const char *option;
        uint32_t bit;
        bool needs128;
    };
    static const Permission kPermissions[] = {
        {"allowPrinting", kPermitPrint, false},
        {"allowEditing", kPermitModify, false},
        {"allowCopying", kPermitCopy, false},
        {"allowNotes", kPermitNotes, false},
        {"allowFill", kPermitFillForms, true},
        {"allowAccess", kPermitAccessibility, true},
        {"allowAssem", kPermitAssemble, true},
        {"allowHQPrint", kPermitHighQualityPrint, true},
    };
    settings->permissions = 0;
    for (const Permission &p : kPermissions) {
        if (p.needs128 && settings->keyLength < 128) {
            continue;
        }
        if (tagopt_get_bool(options, p.option) != 0) {
            settings->permissions |= p.bit;
        }
    }

    settings->colorPredictor = tagopt_get_bool(options, "ColorPredictor") != 0;
    settings->colorTransform = tagopt_get_bool(options, "ColorTransform") != 0;
    settings->removeDuplicateObjects = tagopt_get_bool(options, "RemoveDuplicateObjects") != 0;
    settings->recompressStreams = tagopt_get_bool(options, "RecompressStreams") != 0;
    settings->recompressStreamsFlateLevel = tagopt_get_int(options, "RecompressStreamsFlateLevel");
    settings->removePieceInfo = tagopt_get_bool(options, "RemovePieceInfo") != 0;
    settings->removeMetadata = tagopt_get_bool(options, "RemoveMetadata") != 0;
    settings->removeThumbnails = tagopt_get_bool(options, "RemoveThumbnails") != 0;
    settings->removeBase14Fonts = tagopt_get_bool(options, "RemoveBase14Fonts") != 0;
    settings->removeAllFonts = tagopt_get_bool(options, "RemoveAllFonts") != 0;
    settings->preventGrowth = tagopt_get_bool(options, "PreventGrowth") != 0;
    return 0;
}

extern "C" OSSEL_API OptimizerSettings *ossel_set_defaults(OptimizerSettings *s)
{
    return OsselGuarded(static_cast<OptimizerSettings *>(nullptr), [s]() -> OptimizerSettings * {
        if (s == nullptr) {
            return nullptr;
        }
        s->callbacks = nullptr;
        for (ImageClassSettings *c : {&s->mono, &s->gray, &s->color}) {
            c->downsample = false;
            c->encode = false;
        }
        s->encrypt = false;
        s->colorTransform = false;
        s->removeDuplicateObjects = false;
        s->removePieceInfo = false;
        s->removeMetadata = false;
        s->removeThumbnails = false;
        s->removeBase14Fonts = false;
        s->removeAllFonts = false;
        s->preventGrowth = false;
        s->colorPredictor = true;
        s->recompressStreams = true;
        s->recompressStreamsFlateLevel = 9;
        return s;
    });
}

namespace {

const StatusCallbackRecord *CallbacksOf(const OptimizerSettings *s)
{
    return s == nullptr ? nullptr : s->callbacks;
}

} // namespace

int32_t ReportError(const OptimizerSettings *s, const char *text)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->error != nullptr) ? cb->error(cb->userData, text) : 0;
}

int32_t ReportMessage(const OptimizerSettings *s, const char *text)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->message != nullptr) ? cb->message(cb->userData, text) : 0;
}

int32_t ReportStatus(const OptimizerSettings *s, const char *text)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->status != nullptr) ? cb->status(cb->userData, text) : 0;
}

int32_t ReportBegin(const OptimizerSettings *s)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->begin != nullptr) ? cb->begin(cb->userData) : 0;
}

int32_t ReportEnd(const OptimizerSettings *s)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->end != nullptr) ? cb->end(cb->userData) : 0;
}

int32_t ReportProgress(const OptimizerSettings *s, double fraction)
{
    const StatusCallbackRecord *cb = CallbacksOf(s);
    return (cb != nullptr && cb->progress != nullptr) ? cb->progress(cb->userData, fraction) : 0;
}
