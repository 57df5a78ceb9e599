// core_config.h - the reading core's process-wide parameters for one call,
// and the ".ossel" file that lets a user adjust them.
//
// Every entry point creates the reading core's parameter set when it starts
// and destroys it before it returns (CoreSession). When a file ".ossel"
// exists in the current directory its settings are applied on top of the
// entry point's defaults. Format: one setting per line, "name value...";
// values are separated by blanks or tabs and may be double-quoted to hold
// blanks; a word starting with '#' begins a comment that runs to the end of
// the line; blank lines are ignored. Settings:
//
//   errQuiet yes|no            hide (yes) or show (no) the reading core's
//                              error messages; overrides the entry point's
//                              default (shown for ossel_check_encrypted,
//                              hidden while processing)
//   textEncoding <name>        text encoding of extracted text (e.g. UTF-8)
//   printCommands yes|no       trace content-stream operators on stdout
//   profileCommands yes|no     collect per-operator timing
//   fontFile <fontName> <path> use the font file at path for fontName
//   fontDir <dir>              folder searched for the 14 standard fonts
//
// A setting with a bad value, a missing value or an unknown name is
// reported once on standard error and otherwise ignored; the rest of the
// file still applies.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class GlobalParams;

// The settings found in one ".ossel" file; absent members were not set.
struct CoreConfig {
    std::optional<bool> errQuiet;
    std::optional<bool> printCommands;
    std::optional<bool> profileCommands;
    std::optional<std::string> textEncoding;
    std::optional<std::string> fontDir;
    std::vector<std::pair<std::string, std::string>> fontFiles; // font name, path
};

// Name of the file looked for in the current directory.
inline constexpr const char *kCoreConfigFileName = ".ossel";

// Longest line and largest file that are read; longer lines are reported and
// skipped, bytes past the size limit are ignored (with one report).
inline constexpr size_t kCoreConfigMaxLine = 4096;
inline constexpr size_t kCoreConfigMaxFile = 1 << 20;

// Parses the text of a configuration file. Each problem adds one line of
// text (without line end) to *diagnostics when it is not null; sourceName
// names the file in those texts.
CoreConfig ParseCoreConfig(std::string_view text, std::string_view sourceName,
                           std::vector<std::string> *diagnostics);

// Reads and parses the file at path. Returns false, leaving *config empty,
// when there is no readable regular file at path (a folder, a device or a
// pipe is not read, so nothing can block).
bool ReadCoreConfigFile(const char *path, CoreConfig *config, std::vector<std::string> *diagnostics);

// Applies the settings to a parameter set.
void ApplyCoreConfig(const CoreConfig &config, GlobalParams *params);

// The reading core's process-wide parameter set for the lifetime of one
// entry-point call: created with the given default for the quiet switch,
// adjusted by ".ossel" from the current directory (problems reported on
// standard error, each once per process), and destroyed by the destructor. Sessions must not
// overlap; they do not nest.
class CoreSession {
public:
    explicit CoreSession(bool quietByDefault);
    ~CoreSession();
    CoreSession(const CoreSession &) = delete;
    CoreSession &operator=(const CoreSession &) = delete;
};
