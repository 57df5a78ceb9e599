// tagopt_test_support.h - small tag tables and handle helpers for the option
// library's tests.
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tagopt.h"
#include "tagopt_internal.h"

namespace tagopttest {

struct HandleDeleter {
    void operator()(tagopt_handle *h) const { tagopt_release(h); }
};
using Handle = std::unique_ptr<tagopt_handle, HandleDeleter>;

struct TextDeleter {
    void operator()(char *p) const { std::free(p); }
};
using Text = std::unique_ptr<char, TextDeleter>;

// One definition row; fields not given are absent.
inline tagopt_def Def(const char *name, uint32_t type, const char *value, const char *choices = nullptr,
                      const char *summary = nullptr, const char *help = nullptr, const char *alias = nullptr,
                      uint32_t flags = 0) {
    tagopt_def d{};
    d.name = name;
    d.value = value;
    d.alias = alias;
    d.flags = flags;
    d.type = type;
    d.category = 0;
    d.summary = summary;
    d.help = help;
    d.choices = choices;
    d.extra = nullptr;
    return d;
}

// A handle built from rows (the closing null row is added here).
inline Handle Make(std::vector<tagopt_def> rows, unsigned flags = 0) {
    rows.push_back(tagopt_def{});
    return Handle(tagopt_initialize(rows.data(), flags));
}

inline const char *kScreenText =
    "-DownsampleColorImages true -ColorImageResolution 72 -ColorImageFilter DCTEncode";

// A cut-down version of the optimizer's table: the rows the examples use.
inline std::vector<tagopt_def> OptimizerLikeRows() {
    return {
        Def("DownsampleColorImages", TAGOPT_BOOLEAN, "true", nullptr, "Downsample color images",
            "Enable/disables downsampling of color images"),
        Def("ColorImageDownsampleThreshold", TAGOPT_DOUBLE, "1.5", nullptr, "Downsample threshold for color images"),
        Def("ColorImageFilter", TAGOPT_SINGLE, "FlateEncode", "DCTEncode,FlateEncode,LZWEncode,JPXEncode",
            "Selects downsample filter type for color images.",
            "Specifies the compression filter to be used for color images."),
        Def("ColorImageJPEGQuality", TAGOPT_INT, "80", nullptr, "Selects JPEG Q-factor for color DCTEncoded images."),
        Def("ColorImageResolution", TAGOPT_DOUBLE, "72.0", nullptr, "Resolution for color images",
            "Specifies the resolution to which color images are reduced."),
        Def("StatusCallbacks", TAGOPT_POINTER, "0", nullptr, "Pointer to status callback struct."),
        Def("password", TAGOPT_STRING, "", nullptr, "Password to open PDF", nullptr, nullptr, TAGOPT_HIDDEN),
        Def("keyLength", TAGOPT_SINGLE, "40", "40,128", "Size of the encryption key (40 or 128), default is 40"),
        Def("allowCopying", TAGOPT_BOOLEAN, "true", nullptr, "Allow copying of the document content"),
        Def("o", TAGOPT_STRING, "out.pdf", nullptr, "Set output filename"),
        Def("v", TAGOPT_BOOLEAN, "false", nullptr, "Print verbose information messages"),
        Def("h", TAGOPT_ALIAS, "", nullptr, "Print this help message", nullptr, "-help usage"),
        Def("help", TAGOPT_STRING, "", nullptr, "Display help on usage or a specific command"),
        Def("screen", TAGOPT_ALIAS, "", nullptr, "screen setting", nullptr, kScreenText),
    };
}

inline std::string Get(tagopt_handle *h, const char *name) {
    const char *v = tagopt_get(h, name);
    return v != nullptr ? std::string(v) : std::string("<null>");
}

} // namespace tagopttest
