// settings.h - the typed settings of one optimizer run and the reporting
// helpers that every stage uses.
//
// The settings reader turns the values of an option handle into an
// OptimizerSettings record (declared in ossel.h) and validates the numeric
// image settings. Every later step reads the record, never the handle.
#pragma once

#include <cstdint>
#include <utility>

#include "ossel.h"

// Fills *settings from the option handle: ossel_set_defaults first, then
// every option the optimizer reads, in a fixed order. Sets the process-wide
// verbose flag from option "v". Returns 0, or -1 after reporting an invalid
// resolution, Flate level, JPEG or JPEG 2000 quality through the error
// callback (the fields read so far keep their values, the rest keep the
// defaults). A null handle or record gives -1 without a report.
int ReadOptimizerSettings(tagopt_handle *options, OptimizerSettings *settings);

// The process-wide verbose flag, set from option "v" at the start of every
// run. Detail messages are produced only while it is set.
bool OsselVerbose();
void SetOsselVerbose(bool verbose);

// Reporting helpers. Each does nothing and returns 0 when s, s->callbacks or
// the callback member is null; otherwise it calls the member with the
// record's userData and returns the callback's answer.
int32_t ReportError(const OptimizerSettings *s, const char *text);
int32_t ReportMessage(const OptimizerSettings *s, const char *text);
int32_t ReportStatus(const OptimizerSettings *s, const char *text);
int32_t ReportBegin(const OptimizerSettings *s);
int32_t ReportEnd(const OptimizerSettings *s);
int32_t ReportProgress(const OptimizerSettings *s, double fraction);

// Permission bits of the standard security handler's P entry built by the
// reader from the eight permission options.
constexpr uint32_t kPermitPrint = 0x4;
constexpr uint32_t kPermitModify = 0x8;
constexpr uint32_t kPermitCopy = 0x10;
constexpr uint32_t kPermitNotes = 0x20;
constexpr uint32_t kPermitFillForms = 0x100;    // 128-bit keys only
constexpr uint32_t kPermitAccessibility = 0x200; // 128-bit keys only
constexpr uint32_t kPermitAssemble = 0x400;     // 128-bit keys only
constexpr uint32_t kPermitHighQualityPrint = 0x800; // 128-bit keys only

// Runs the body of an exported function so that nothing is thrown across the
// C boundary: any exception becomes the function's documented failure value.
template <typename Result, typename Body>
Result OsselGuarded(Result failure, Body &&body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}
