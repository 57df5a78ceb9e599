// Tests of the settings reader, the presets applied to a fresh handle, the
// defaults export and the report helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ossel.h"
#include "settings.h"
#include "tagopt.h"

namespace {

struct HandleDeleter {
    void operator()(tagopt_handle *h) const { tagopt_release(h); }
};
using Handle = std::unique_ptr<tagopt_handle, HandleDeleter>;

using Puts = std::vector<std::pair<const char *, const char *>>;

// Records what the callbacks receive.
struct Recorder {
    std::vector<std::string> errors;
    std::vector<std::string> messages;
    std::vector<std::string> statuses;
    int begins = 0;
    int ends = 0;
    double lastFraction = -1.0;
    int32_t answer = 0;
};

Recorder *RecorderOf(void *userData)
{
    return static_cast<Recorder *>(userData);
}

StatusCallbackRecord MakeCallbacks(Recorder *r)
{
    StatusCallbackRecord cb{};
    cb.userData = r;
    cb.begin = [](void *u) -> int32_t { return ++RecorderOf(u)->begins, RecorderOf(u)->answer; };
    cb.end = [](void *u) -> int32_t { return ++RecorderOf(u)->ends, RecorderOf(u)->answer; };
    cb.progress = [](void *u, double f) -> int32_t { return RecorderOf(u)->lastFraction = f, RecorderOf(u)->answer; };
    cb.error = [](void *u, const char *t) -> int32_t { return RecorderOf(u)->errors.push_back(t), RecorderOf(u)->answer; };
    cb.message = [](void *u, const char *t) -> int32_t {
        return RecorderOf(u)->messages.push_back(t), RecorderOf(u)->answer;
    };
    cb.status = [](void *u, const char *t) -> int32_t {
        return RecorderOf(u)->statuses.push_back(t), RecorderOf(u)->answer;
    };
    return cb;
}

// A fresh handle on the optimizer's table with the callbacks installed and
// the given values put; the reader's result and record.
class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle_.reset(tagopt_initialize(ossel_get_opts(), 0));
        ASSERT_NE(handle_, nullptr);
        recorder_ = Recorder{};
        callbacks_ = MakeCallbacks(&recorder_);
        ASSERT_EQ(tagopt_put(handle_.get(), "StatusCallbacks", reinterpret_cast<const char *>(&callbacks_)), 0);
    }

    // Puts every value (each must be accepted) and runs the reader on a
    // zeroed record.
    int Read(const Puts &puts)
    {
        for (const auto &[name, value] : puts) {
            EXPECT_EQ(tagopt_put(handle_.get(), name, value), 0) << name << "=" << value << ": " << handle_->error_text;
        }
        settings_ = OptimizerSettings{};
        return ReadOptimizerSettings(handle_.get(), &settings_);
    }

    Handle handle_;
    Recorder recorder_;
    StatusCallbackRecord callbacks_{};
    OptimizerSettings settings_{};
};

struct ClassCase {
    const char *prefix;
    ImageClassSettings OptimizerSettings::*member;
};
const ClassCase kClasses[] = {
    {"Mono", &OptimizerSettings::mono},
    {"Gray", &OptimizerSettings::gray},
    {"Color", &OptimizerSettings::color},
};

TEST_F(ReaderTest, InitialValues)
{
    ASSERT_EQ(Read({}), 0);
    EXPECT_TRUE(recorder_.errors.empty());
    for (const ClassCase &c : kClasses) {
        SCOPED_TRACE(c.prefix);
        const ImageClassSettings &s = settings_.*c.member;
        const bool mono = std::strcmp(c.prefix, "Mono") == 0;
        EXPECT_TRUE(s.downsample);
        EXPECT_STREQ(s.resampleFilter, "box");
        EXPECT_TRUE(s.encode);
        EXPECT_EQ(s.compression, 32946);
        EXPECT_DOUBLE_EQ(s.resolution, mono ? 150.0 : 72.0);
        EXPECT_DOUBLE_EQ(s.downsampleThreshold, 1.5);
        EXPECT_EQ(s.jpegQuality, mono ? 0 : 80);
        EXPECT_EQ(s.jpxQuality, mono ? 0 : 80);
        EXPECT_EQ(s.flateLevel, 9);
    }
    EXPECT_TRUE(settings_.colorPredictor);
    EXPECT_FALSE(settings_.colorTransform);
    EXPECT_TRUE(settings_.recompressStreams);
    EXPECT_EQ(settings_.recompressStreamsFlateLevel, 9);
    EXPECT_TRUE(settings_.removeDuplicateObjects);
    EXPECT_TRUE(settings_.removePieceInfo);
    EXPECT_TRUE(settings_.removeMetadata);
    EXPECT_FALSE(settings_.removeThumbnails);
    EXPECT_FALSE(settings_.removeBase14Fonts);
    EXPECT_FALSE(settings_.removeAllFonts);
    EXPECT_TRUE(settings_.preventGrowth);
    EXPECT_FALSE(settings_.encrypt);
    EXPECT_EQ(settings_.ownerPass, nullptr);
    EXPECT_EQ(settings_.openPass, nullptr);
    EXPECT_EQ(settings_.keyLength, 40);
    EXPECT_EQ(settings_.permissions, 0x3Cu);
    EXPECT_EQ(settings_.callbacks, &callbacks_);
    EXPECT_FALSE(OsselVerbose());
}

// Values the reader refuses, and the neighbours it accepts.
struct LimitCase {
    const char *option;
    const char *value;
    const char *error; // null: accepted
};

TEST_F(ReaderTest, ValueLimits)
{
    const LimitCase cases[] = {
        {"MonoImageResolution", "5", nullptr},
        {"MonoImageResolution", "4.99", "Error: invalid resolution value\n"},
        {"GrayImageResolution", "5", nullptr},
        {"GrayImageResolution", "4.99", "Error: invalid resolution value\n"},
        {"ColorImageResolution", "5", nullptr},
        {"ColorImageResolution", "4.99", "Error: invalid resolution value\n"},
        {"ColorImageResolution", "-72", "Error: invalid resolution value\n"},
        // beyond the range of a double: not a usable resolution
        {"ColorImageResolution", "1e999", "Error: invalid resolution value\n"},
        {"MonoImageFlateLevel", "3", "Error: invalid flatelevel value\n"},
        {"MonoImageFlateLevel", "4", nullptr},
        {"GrayImageFlateLevel", "3", "Error: invalid flatelevel value\n"},
        {"GrayImageFlateLevel", "4", nullptr},
        {"ColorImageFlateLevel", "3", "Error: invalid flatelevel value\n"},
        {"ColorImageFlateLevel", "4", nullptr},
        {"GrayImageJPEGQuality", "4", "Error: invalid JPEG quality value\n"},
        {"GrayImageJPEGQuality", "5", nullptr},
        {"ColorImageJPEGQuality", "4", "Error: invalid JPEG quality value\n"},
        {"ColorImageJPEGQuality", "5", nullptr},
        {"GrayImageJPXQuality", "4", "Error: invalid JPX quality value\n"},
        {"GrayImageJPXQuality", "5", nullptr},
        {"ColorImageJPXQuality", "4", "Error: invalid JPX quality value\n"},
        {"ColorImageJPXQuality", "5", nullptr},
        // not validated
        {"RecompressStreamsFlateLevel", "0", nullptr},
        {"ColorImageDownsampleThreshold", "0", nullptr},
        // no Mono quality options exist: a new tag of that name is not read
        {"MonoImageJPEGQuality", "1", nullptr},
        {"MonoImageJPXQuality", "1", nullptr},
    };
    for (const LimitCase &c : cases) {
        SCOPED_TRACE(std::string(c.option) + "=" + c.value);
        SetUp();
        const int result = Read({{c.option, c.value}});
        if (c.error == nullptr) {
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(recorder_.errors.empty());
        } else {
            EXPECT_EQ(result, -1);
            ASSERT_EQ(recorder_.errors.size(), 1u);
            EXPECT_EQ(recorder_.errors[0], c.error);
        }
    }
}

TEST_F(ReaderTest, AcceptedValuesAreStoredUnchanged)
{
    ASSERT_EQ(Read({{"RecompressStreamsFlateLevel", "0"},
                    {"MonoImageResolution", "5"},
                    {"ColorImageDownsampleThreshold", "2.25"},
                    {"GrayImageJPEGQuality", "5"},
                    {"ColorImageJPXQuality", "33"},
                    {"MonoImageFlateLevel", "4"},
                    {"MonoImageJPEGQuality", "1"}}),
              0);
    EXPECT_EQ(settings_.recompressStreamsFlateLevel, 0);
    EXPECT_DOUBLE_EQ(settings_.mono.resolution, 5.0);
    EXPECT_DOUBLE_EQ(settings_.color.downsampleThreshold, 2.25);
    EXPECT_EQ(settings_.gray.jpegQuality, 5);
    EXPECT_EQ(settings_.color.jpxQuality, 33);
    EXPECT_EQ(settings_.mono.flateLevel, 4);
    EXPECT_EQ(settings_.mono.jpegQuality, 0);
}

TEST_F(ReaderTest, FailureKeepsWhatWasReadAndDefaultsTheRest)
{
    settings_ = OptimizerSettings{};
    ASSERT_EQ(tagopt_put(handle_.get(), "GrayImageFlateLevel", "3"), 0);
    ASSERT_EQ(tagopt_put(handle_.get(), "v", "true"), 0);
    ASSERT_EQ(ReadOptimizerSettings(handle_.get(), &settings_), -1);
    EXPECT_TRUE(OsselVerbose());
    // Mono was read completely, Gray up to its Flate level.
    EXPECT_DOUBLE_EQ(settings_.mono.resolution, 150.0);
    EXPECT_EQ(settings_.mono.flateLevel, 9);
    EXPECT_DOUBLE_EQ(settings_.gray.resolution, 72.0);
    EXPECT_EQ(settings_.gray.compression, 32946);
    EXPECT_EQ(settings_.gray.flateLevel, 3);
    EXPECT_EQ(settings_.gray.jpegQuality, 0);
    // Color and everything after the classes hold the defaults.
    EXPECT_FALSE(settings_.color.downsample);
    EXPECT_EQ(settings_.color.resampleFilter, nullptr);
    EXPECT_DOUBLE_EQ(settings_.color.resolution, 0.0);
    EXPECT_TRUE(settings_.colorPredictor);
    EXPECT_FALSE(settings_.removeMetadata);
    EXPECT_FALSE(settings_.preventGrowth);
    EXPECT_EQ(settings_.permissions, 0u);
    EXPECT_EQ(settings_.keyLength, 0);

    // The next run sets the verbose flag again from its own handle.
    SetUp();
    ASSERT_EQ(Read({}), 0);
    EXPECT_FALSE(OsselVerbose());
}

TEST_F(ReaderTest, FailureWithoutCallbacksIsQuiet)
{
    ASSERT_EQ(tagopt_put(handle_.get(), "StatusCallbacks", nullptr), 0);
    EXPECT_EQ(Read({{"ColorImageResolution", "1"}}), -1);
    EXPECT_EQ(settings_.callbacks, nullptr);
    EXPECT_TRUE(recorder_.errors.empty());
}

TEST(Reader, NullArgumentsFail)
{
    OptimizerSettings s{};
    EXPECT_EQ(ReadOptimizerSettings(nullptr, &s), -1);
    Handle h(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ReadOptimizerSettings(h.get(), nullptr), -1);
}

TEST_F(ReaderTest, FilterNames)
{
    struct Case {
        const char *option;
        const char *value;
        ImageClassSettings OptimizerSettings::*member;
        int32_t compression;
    };
    const Case cases[] = {
        {"ColorImageFilter", "FlateEncode", &OptimizerSettings::color, 32946},
        {"ColorImageFilter", "DCTEncode", &OptimizerSettings::color, 7},
        {"ColorImageFilter", "LZWEncode", &OptimizerSettings::color, 5},
        {"ColorImageFilter", "JPXEncode", &OptimizerSettings::color, 34716},
        {"GrayImageFilter", "DCTEncode", &OptimizerSettings::gray, 7},
        {"GrayImageFilter", "JPXEncode", &OptimizerSettings::gray, 34716},
        {"MonoImageFilter", "CCITTFaxEncode", &OptimizerSettings::mono, 4},
        {"MonoImageFilter", "CCITTFax3Encode", &OptimizerSettings::mono, 3},
        {"MonoImageFilter", "RunLengthEncode", &OptimizerSettings::mono, 2},
        {"MonoImageFilter", "LZWEncode", &OptimizerSettings::mono, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.option) + "=" + c.value);
        SetUp();
        ASSERT_EQ(Read({{c.option, c.value}}), 0);
        EXPECT_EQ((settings_.*c.member).compression, c.compression);
    }
}

TEST_F(ReaderTest, ResampleFilterNames)
{
    struct Case {
        const char *value;
        const char *filter;
    };
    const Case cases[] = {{"Average", "box"}, {"Bicubic", "triangle"}, {"Subsample", "point"}};
    for (const ClassCase &k : kClasses) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(k.prefix) + " " + c.value);
            SetUp();
            const std::string option = std::string(k.prefix) + "ImageDownsampleType";
            ASSERT_EQ(Read({{option.c_str(), c.value}}), 0);
            EXPECT_STREQ((settings_.*k.member).resampleFilter, c.filter);
        }
    }
}

TEST_F(ReaderTest, PermissionBits)
{
    struct Case {
        const char *label;
        Puts puts;
        uint32_t permissions;
    };
    const Case cases[] = {
        {"40-bit initial values", {}, 0x3C},
        {"40-bit ignores allowFill", {{"keyLength", "40"}, {"allowFill", "true"}}, 0x3C},
        {"40-bit without copying", {{"allowCopying", "false"}}, 0x2C},
        {"40-bit nothing allowed",
         {{"allowPrinting", "0"}, {"allowEditing", "0"}, {"allowCopying", "0"}, {"allowNotes", "0"}},
         0x0},
        {"128-bit initial values", {{"keyLength", "128"}}, 0xF3C},
        {"128-bit without printing", {{"keyLength", "128"}, {"allowPrinting", "false"}}, 0xF38},
        {"128-bit without fill", {{"keyLength", "128"}, {"allowFill", "false"}}, 0xE3C},
        {"128-bit without accessibility", {{"keyLength", "128"}, {"allowAccess", "false"}}, 0xD3C},
        {"128-bit without assembly", {{"keyLength", "128"}, {"allowAssem", "false"}}, 0xB3C},
        {"128-bit without high quality print", {{"keyLength", "128"}, {"allowHQPrint", "false"}}, 0x73C},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        SetUp();
        ASSERT_EQ(Read(c.puts), 0);
        EXPECT_EQ(settings_.permissions, c.permissions);
    }
}

TEST_F(ReaderTest, EncryptionFields)
{
    ASSERT_EQ(Read({{"encrypt", "true"}, {"keyLength", "128"}, {"ownerPass", "owner"}, {"openPass", ""}}), 0);
    EXPECT_TRUE(settings_.encrypt);
    EXPECT_EQ(settings_.keyLength, 128);
    ASSERT_NE(settings_.ownerPass, nullptr);
    EXPECT_STREQ(settings_.ownerPass, "owner");
    EXPECT_EQ(settings_.openPass, nullptr);

    SetUp();
    ASSERT_EQ(Read({{"ownerPass", ""}, {"openPass", "user"}}), 0);
    EXPECT_EQ(settings_.ownerPass, nullptr);
    ASSERT_NE(settings_.openPass, nullptr);
    EXPECT_STREQ(settings_.openPass, "user");
}

TEST_F(ReaderTest, SwitchesFollowTheirOptions)
{
    struct Case {
        const char *option;
        bool OptimizerSettings::*field;
    };
    const Case cases[] = {
        {"ColorPredictor", &OptimizerSettings::colorPredictor},
        {"ColorTransform", &OptimizerSettings::colorTransform},
        {"RemoveDuplicateObjects", &OptimizerSettings::removeDuplicateObjects},
        {"RecompressStreams", &OptimizerSettings::recompressStreams},
        {"RemovePieceInfo", &OptimizerSettings::removePieceInfo},
        {"RemoveMetadata", &OptimizerSettings::removeMetadata},
        {"RemoveThumbnails", &OptimizerSettings::removeThumbnails},
        {"RemoveBase14Fonts", &OptimizerSettings::removeBase14Fonts},
        {"RemoveAllFonts", &OptimizerSettings::removeAllFonts},
        {"PreventGrowth", &OptimizerSettings::preventGrowth},
        {"encrypt", &OptimizerSettings::encrypt},
    };
    for (const Case &c : cases) {
        for (const char *value : {"true", "false"}) {
            SCOPED_TRACE(std::string(c.option) + "=" + value);
            SetUp();
            ASSERT_EQ(Read({{c.option, value}}), 0);
            EXPECT_EQ(settings_.*c.field, std::strcmp(value, "true") == 0);
        }
    }
    for (const ClassCase &k : kClasses) {
        for (const char *value : {"true", "false"}) {
            SCOPED_TRACE(std::string(k.prefix) + " switches " + value);
            SetUp();
            const std::string downsample = std::string("Downsample") + k.prefix + "Images";
            const std::string encode = std::string("Encode") + k.prefix + "Images";
            ASSERT_EQ(Read({{downsample.c_str(), value}, {encode.c_str(), value}}), 0);
            EXPECT_EQ((settings_.*k.member).downsample, std::strcmp(value, "true") == 0);
            EXPECT_EQ((settings_.*k.member).encode, std::strcmp(value, "true") == 0);
        }
    }
}

TEST(Presets, AppliedThroughPutOnAFreshHandle)
{
    struct Case {
        const char *preset;
        Puts expected; // option values after the preset
    };
    const Case cases[] = {
        {"screen",
         {{"DownsampleColorImages", "true"}, {"ColorImageResolution", "72"},     {"EncodeColorImages", "true"},
          {"ColorImageFilter", "DCTEncode"}, {"ColorImageJPEGQuality", "60"},    {"DownsampleGrayImages", "true"},
          {"GrayImageResolution", "72"},     {"EncodeGrayImages", "true"},       {"GrayImageFilter", "DCTEncode"},
          {"GrayImageJPEGQuality", "60"},    {"DownsampleMonoImages", "true"},   {"MonoImageResolution", "200"},
          {"EncodeMonoImages", "true"},      {"MonoImageFilter", "CCITTFaxEncode"},
          {"RemoveDuplicateObjects", "true"}, {"RecompressStreams", "true"},     {"RemoveMetadata", "true"},
          {"RemovePieceInfo", "true"},       {"RemoveStructuredPDF", "true"},    {"RemoveThumbnails", "true"},
          {"screen", "true"},                {"minsize", ""}}},
        {"minsize",
         {{"DownsampleColorImages", "false"}, {"EncodeColorImages", "false"},   {"DownsampleGrayImages", "false"},
          {"EncodeGrayImages", "false"},      {"DownsampleMonoImages", "false"}, {"EncodeMonoImages", "false"},
          {"RemoveDuplicateObjects", "true"}, {"RecompressStreams", "true"},    {"RemoveMetadata", "true"},
          {"RemovePieceInfo", "true"},        {"RemoveStructuredPDF", "true"},  {"RemoveThumbnails", "true"},
          {"ColorImageFilter", "FlateEncode"}, {"minsize", "true"},             {"screen", ""}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.preset);
        Handle h(tagopt_initialize(ossel_get_opts(), 0));
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(tagopt_put(h.get(), c.preset, "true"), 0) << h->error_text;
        for (const auto &[name, value] : c.expected) {
            const char *actual = tagopt_get(h.get(), name);
            ASSERT_NE(actual, nullptr) << name;
            EXPECT_STREQ(actual, value) << name;
        }
    }
}

TEST(Presets, ReachTheSettings)
{
    Handle screen(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(tagopt_put(screen.get(), "screen", "true"), 0);
    OptimizerSettings s{};
    ASSERT_EQ(ReadOptimizerSettings(screen.get(), &s), 0);
    EXPECT_EQ(s.color.compression, 7);
    EXPECT_EQ(s.color.jpegQuality, 60);
    EXPECT_EQ(s.gray.compression, 7);
    EXPECT_EQ(s.mono.compression, 4);
    EXPECT_DOUBLE_EQ(s.mono.resolution, 200.0);
    EXPECT_TRUE(s.removeThumbnails);

    Handle minsize(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(minsize, nullptr);
    ASSERT_EQ(tagopt_put(minsize.get(), "minsize", "true"), 0);
    s = OptimizerSettings{};
    ASSERT_EQ(ReadOptimizerSettings(minsize.get(), &s), 0);
    for (const ImageClassSettings *c : {&s.mono, &s.gray, &s.color}) {
        EXPECT_FALSE(c->downsample);
        EXPECT_FALSE(c->encode);
    }
    EXPECT_TRUE(s.removeThumbnails);
}

TEST(Presets, HelpAliasAsksForUsage)
{
    Handle h(tagopt_initialize(ossel_get_opts(), 0));
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(tagopt_put(h.get(), "h", "true"), 0) << h->error_text;
    ASSERT_NE(tagopt_get(h.get(), "help"), nullptr);
    EXPECT_STREQ(tagopt_get(h.get(), "help"), "usage");
}

TEST(SetDefaults, SetsItsFieldsAndNoOthers)
{
    EXPECT_EQ(ossel_set_defaults(nullptr), nullptr);

    OptimizerSettings s;
    std::memset(&s, 0xA5, sizeof s); // every bool member reads as neither value
    OptimizerSettings before;
    std::memcpy(&before, &s, sizeof s);
    ASSERT_EQ(ossel_set_defaults(&s), &s);

    EXPECT_EQ(s.callbacks, nullptr);
    for (const ImageClassSettings *c : {&s.mono, &s.gray, &s.color}) {
        EXPECT_FALSE(c->downsample);
        EXPECT_FALSE(c->encode);
    }
    for (bool OptimizerSettings::*f :
         {&OptimizerSettings::encrypt, &OptimizerSettings::colorTransform, &OptimizerSettings::removeDuplicateObjects,
          &OptimizerSettings::removePieceInfo, &OptimizerSettings::removeMetadata,
          &OptimizerSettings::removeThumbnails, &OptimizerSettings::removeBase14Fonts,
          &OptimizerSettings::removeAllFonts, &OptimizerSettings::preventGrowth}) {
        EXPECT_FALSE(s.*f);
    }
    EXPECT_TRUE(s.colorPredictor);
    EXPECT_TRUE(s.recompressStreams);
    EXPECT_EQ(s.recompressStreamsFlateLevel, 9);

    // Untouched members keep their bytes.
    auto same = [](const void *a, const void *b, size_t n) { return std::memcmp(a, b, n) == 0; };
    EXPECT_TRUE(same(&s.imageRecordCount, &before.imageRecordCount, sizeof s.imageRecordCount));
    EXPECT_TRUE(same(&s.imageRecords, &before.imageRecords, sizeof s.imageRecords));
    EXPECT_TRUE(same(&s.keyLength, &before.keyLength, sizeof s.keyLength));
    EXPECT_TRUE(same(&s.permissions, &before.permissions, sizeof s.permissions));
    EXPECT_TRUE(same(&s.ownerPass, &before.ownerPass, sizeof s.ownerPass));
    EXPECT_TRUE(same(&s.color.resolution, &before.color.resolution, sizeof s.color.resolution));
    EXPECT_TRUE(same(&s.gray.flateLevel, &before.gray.flateLevel, sizeof s.gray.flateLevel));
    EXPECT_TRUE(same(&s.mono.resampleFilter, &before.mono.resampleFilter, sizeof s.mono.resampleFilter));
}

TEST(Report, HelpersCallThroughTheRecord)
{
    Recorder r;
    r.answer = 7;
    StatusCallbackRecord cb = MakeCallbacks(&r);
    OptimizerSettings s{};
    s.callbacks = &cb;

    EXPECT_EQ(ReportError(&s, "Error: x\n"), 7);
    EXPECT_EQ(ReportMessage(&s, "note\n"), 7);
    EXPECT_EQ(ReportStatus(&s, "Scanning PDF..."), 7);
    EXPECT_EQ(ReportBegin(&s), 7);
    EXPECT_EQ(ReportEnd(&s), 7);
    EXPECT_EQ(ReportProgress(&s, 0.25), 7);
    EXPECT_EQ(r.errors, std::vector<std::string>{"Error: x\n"});
    EXPECT_EQ(r.messages, std::vector<std::string>{"note\n"});
    EXPECT_EQ(r.statuses, std::vector<std::string>{"Scanning PDF..."});
    EXPECT_EQ(r.begins, 1);
    EXPECT_EQ(r.ends, 1);
    EXPECT_DOUBLE_EQ(r.lastFraction, 0.25);
}

TEST(Report, HelpersSkipMissingReceivers)
{
    // No settings, no record, and a record without members: nothing is
    // called and the answer is 0.
    OptimizerSettings none{};
    StatusCallbackRecord empty{};
    OptimizerSettings withEmpty{};
    withEmpty.callbacks = &empty;
    const OptimizerSettings *const receivers[] = {nullptr, &none, &withEmpty};
    for (const OptimizerSettings *s : receivers) {
        EXPECT_EQ(ReportError(s, "Error: x\n"), 0);
        EXPECT_EQ(ReportMessage(s, "m\n"), 0);
        EXPECT_EQ(ReportStatus(s, "s"), 0);
        EXPECT_EQ(ReportBegin(s), 0);
        EXPECT_EQ(ReportEnd(s), 0);
        EXPECT_EQ(ReportProgress(s, 1.0), 0);
    }
}

} // namespace
