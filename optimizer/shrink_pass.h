// shrink_pass.h - the second pass of a run: decides for every object of the
// input how the writer writes it, then has the writer produce the output.
//
// Runs after the image placement survey, whose record table (in
// OptimizerSettings) tells which objects are images and how they are drawn.
#pragma once

#include <cstdint>

#include "pdf_writer.h"

class PDFDoc;
struct OptimizerSettings;

// Fills the plan for object numbers 1 .. imageRecordCount - 1:
// - not in use: actionFree;
// - in use: the input's generation; the containers of a cross-reference
//   stream or object stream are freed (their contents are written as
//   ordinary objects, so the containers would only repeat them);
// - other non-images: with recompressStreams, an indirect /Length holding a
//   number is freed (the writer writes lengths directly); otherwise copied;
// - images with a depth other than 1 or 8 bits per component, and DCT
//   images that would be downsampled and written as JPEG again while their
//   estimated quality is at most the quality setting + 5, are copied
//   unchanged (named in a message when verbose);
// - every other image gets actionCallback with imageCallback as its writer
//   and the /Length step above. When imageCallback is null such an image is
//   copied unchanged.
void PlanObjects(PDFDoc *doc, OptimizerSettings *settings, ObjectTable &table, ObjectWriteCallback imageCallback);

// The image processor's object writer for images the plan hands to it, or
// null while no image processor is available (those images are then copied
// unchanged).
ObjectWriteCallback ImageWriteCallback();

// Runs the pass and writes outFile. Reports "Shrinking PDF..." first; a
// nonzero answer returns 2 without creating a file. Returns 0 when the file
// was written, 2 when a cleanup step asked to stop, 4 when the writer cannot
// be created, output encryption cannot be set up, or writing failed (no
// output file is then left; an existing one is untouched).
int ShrinkPass(PDFDoc *doc, OptimizerSettings *settings, const char *outFile);
