// Resampling filters and the per-pixel weight windows ("contributions")
// built from them. Internal to the resampler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace ossel_scale {

// Weights are fixed point with 1.0 = kWeightOne.
constexpr int32_t kWeightOne = 16384;

enum class FilterKind { Box, Triangle, Mitchell, LWBox, Point, PtBox };

struct FilterInfo {
    FilterKind kind;
    float support;  // half-width of the window in destination pixels
};

// Looks a filter up by its exact name; false for an unknown or null name.
bool LookupFilter(const char *name, FilterInfo *info);

// The kernel K(x), x in destination-pixel units. "ptbox" uses the box kernel
// for its window.
double FilterKernel(FilterKind kind, double x);

// One destination pixel along one axis: source indices
// [first, first + count) with weights pool[weights .. weights + count).
struct Contribution {
    int32_t first;
    int32_t count;
    uint32_t weights;
};

// Weight runs, each stored once however many contributions use it.
class WeightPool {
public:
    // Returns the offset of a run equal to w[0..n), adding it when new.
    // Throws std::bad_alloc when memory runs out.
    uint32_t Add(const int32_t *w, int32_t n);
    const int32_t *Data() const { return pool_.data(); }
    size_t Size() const { return pool_.size(); }

private:
    std::vector<int32_t> pool_;
    std::unordered_multimap<uint64_t, uint32_t> index_;  // run hash -> offset in pool_
};

// Computes the weight window of destination pixel i along an axis of source
// size n with scale s (destination / source) into first and w. Returns false
// when the pixel's centre lies beyond the source. ptBoxPoints selects the
// three-point rule of "ptbox" for strong reductions.
bool ComputeWeights(const FilterInfo &filter, bool ptBoxPoints, int64_t n, float s, int64_t i,
                    int64_t *first, std::vector<int32_t> *w);

// Builds the contributions of all dstSize pixels of one axis into out, sharing
// runs through pool. False when a centre lies beyond the source or the pool
// would exceed maxPoolEntries. Throws std::bad_alloc when memory runs out.
bool BuildContributions(const FilterInfo &filter, bool ptBoxPoints, int64_t srcSize, int64_t dstSize, float s,
                        size_t maxPoolEntries, WeightPool *pool, std::vector<Contribution> *out);

}  // namespace ossel_scale
