// The image placement survey: before anything is written, every page is
// interpreted once with a device that draws nothing and records, for each
// image XObject, what it is and the lowest resolution at which it is drawn.
// The resulting table, one ImageRecord per object number of the input, is
// read by the shrink pass, duplicate removal and the image processor.
#pragma once

#include <cstdint>

#include "ossel.h"

class PDFDoc;

// One record per cross-reference entry of the input; the record of object
// number n is element n of OptimizerSettings::imageRecords (element 0 unused).
// Global namespace: completes the forward declaration in ossel.h.
struct ImageRecord {
    int32_t generation;        // from the xref entry; 0 inside an object stream
    bool inUse;                // the xref entry is not free
    bool placed;               // an image: drawn, mask of a drawn image, or undrawn image XObject
    bool maskTarget;           // the /SMask or /Mask stream of a drawn image
    bool undrawn;              // an image XObject that no page draws
    int32_t bitsPerComponent;  // at the first placement (mask: its own /BitsPerComponent)
    int32_t components;        // colour components at the first placement
    int32_t sourceCompression; // OSSEL_COMPRESSION_* of the stream's last filter
    int32_t sourceJpegQuality; // quality estimate of a DCT stream, else -1
    double horizontalDpi;      // lowest over all placements; -1.0 before the first
    double verticalDpi;        // lowest over all placements; -1.0 before the first
    int32_t encodedLength;     // written by the image processor
};

// Survey status codes (the same numbers as the OSSEL_* result codes).
enum : int {
    kSurveyOk = 0,
    kSurveyCancelled = 2,
    kSurveyDeviceNotOk = 3,
    kSurveyNoMemory = 7,
};

// Allocates settings->imageRecords zero-filled with one record per xref entry
// of doc (freeing a previous table first) and fills generation, inUse and the
// -1 defaults. Returns 0, or 7 when the table cannot be allocated (or doc has
// no xref), in which case the settings hold no table.
int BuildImageRecordTable(PDFDoc *doc, OptimizerSettings *settings);

// Runs the survey over all pages of doc: reports "Scanning PDF...", begin,
// progress and end through settings->callbacks, builds the table itself,
// interprets every page and runs the mask/undrawn post-pass.
// Returns 0 done, 2 cancelled by a callback, 3 the device is not usable,
// 7 the table cannot be allocated (nothing surveyed).
int RunImageSurvey(PDFDoc *doc, OptimizerSettings *settings);

// Frees settings->imageRecords and zeroes the count; safe on an empty table
// and when called twice.
void FreeImageRecordTable(OptimizerSettings *settings);
