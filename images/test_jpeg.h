// Test helper: small JPEGs made with libjpeg at a chosen quality.
#pragma once

#include <string>

namespace surveytest {

// A width x height JPEG with a smooth gradient; components 1 (gray) or 3
// (RGB, written as YCbCr with two tables). baseline = false lets libjpeg
// write 16-bit quantization tables at low qualities.
std::string MakeJpeg(int width, int height, int components, int quality, bool baseline = true);

} // namespace surveytest
