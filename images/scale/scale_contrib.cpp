// Resampling filters and weight windows.
#include "scale_contrib.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ossel_scale {

namespace {

struct FilterName {
    const char *name;
    FilterInfo info;
};

constexpr FilterName kFilters[] = {
    {"box", {FilterKind::Box, 0.5f}},
    {"triangle", {FilterKind::Triangle, 1.5f}},
    {"mitchell", {FilterKind::Mitchell, 2.0f}},
    {"LWbox", {FilterKind::LWBox, 0.25f}},
    {"point", {FilterKind::Point, 0.0f}},
    {"ptbox", {FilterKind::PtBox, 0.5f}},
};

// Runs are compared by content; the hash only narrows the search.
uint64_t HashRun(const int32_t *w, int32_t n)
{
    uint64_t h = 1469598103934665603ull ^ static_cast<uint64_t>(n);
    for (int32_t j = 0; j < n; ++j) {
        h ^= static_cast<uint32_t>(w[j]);
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

bool LookupFilter(const char *name, FilterInfo *info)
{
    if (name == nullptr) {
        return false;
    }
    for (const FilterName &f : kFilters) {
        if (std::strcmp(name, f.name) == 0) {
            *info = f.info;
            return true;
        }
    }
    return false;
}

double FilterKernel(FilterKind kind, double x)
{
    switch (kind) {
    case FilterKind::Triangle: {
        const double ax = std::fabs(x);
        return ax < 1.0 ? 1.0 - ax : 0.0;
    }
    case FilterKind::Mitchell: {
        // Mitchell-Netravali cubic with B = C = 1/3.
        const double ax = std::fabs(x);
        const double x2 = ax * ax;
        const double x3 = x2 * ax;
        if (ax < 1.0) {
            return (7.0 * x3 - 12.0 * x2 + 16.0 / 3.0) / 6.0;
        }
        if (ax < 2.0) {
            return (-7.0 / 3.0 * x3 + 12.0 * x2 - 20.0 * ax + 32.0 / 3.0) / 6.0;
        }
        return 0.0;
    }
    case FilterKind::Box:
    case FilterKind::LWBox:
    case FilterKind::Point:
    case FilterKind::PtBox:
        break;
    }
    // Box: the small tolerance keeps pixels exactly on the edge inside.
    return (x + 1e-7 > -0.5 && x - 1e-7 <= 0.5) ? 1.0 : 0.0;
}

uint32_t WeightPool::Add(const int32_t *w, int32_t n)
{
    const uint64_t h = HashRun(w, n);
    auto range = index_.equal_range(h);
    for (auto it = range.first; it != range.second; ++it) {
        const uint32_t off = it->second;
        if (off + static_cast<size_t>(n) <= pool_.size() &&
            std::equal(w, w + n, pool_.begin() + off)) {
            return off;
        }
    }
    const uint32_t off = static_cast<uint32_t>(pool_.size());
    pool_.insert(pool_.end(), w, w + n);
    index_.emplace(h, off);
    return off;
}

bool ComputeWeights(const FilterInfo &filter, bool ptBoxPoints, int64_t n, float s, int64_t i,
                    int64_t *first, std::vector<int32_t> *w)
{
    const double sd = static_cast<double>(s);
    const double c = (static_cast<double>(i) + 0.5) / sd;
    if (!(c <= static_cast<double>(n))) {
        return false;
    }
    // The source pixel under the centre. A centre exactly on the far edge
    // would name a pixel past the end; the last pixel stands in for it.
    const int64_t centre = std::min(static_cast<int64_t>(c), n - 1);
    auto singleTap = [&]() {
        *first = centre;
        w->assign(1, kWeightOne);
        return true;
    };

    const double r = static_cast<double>(filter.support) / sd;
    double low = c - r;
    if (low < 0.0) {
        low = 0.0;
    }
    double high = c + r;
    if (high >= static_cast<double>(n)) {
        high = static_cast<double>(n - 1);
    }
    int64_t lo = static_cast<int64_t>(low);
    const int64_t hi = static_cast<int64_t>(high + 1.0);
    if (lo >= hi) {
        // Only a zero-width window on the far edge gets here; an empty
        // window would leave the pixel (or a whole row) without any source.
        return singleTap();
    }

    if (ptBoxPoints) {
        // Strong reductions: three samples, at the centre and a third of the
        // window to either side, each worth a third; the rounding rest goes to
        // the centre sample.
        const double third = 1.0 / (3.0 * sd);
        const double points[3] = {c - third, c, c + third};
        int64_t taps[3];
        for (int m = 0; m < 3; ++m) {
            const double p = std::max(points[m], 0.0);
            taps[m] = std::clamp(static_cast<int64_t>(p), lo, hi - 1);
        }
        const int64_t a = *std::min_element(taps, taps + 3);
        const int64_t b = *std::max_element(taps, taps + 3) + 1;
        w->assign(static_cast<size_t>(b - a), 0);
        for (int64_t t : taps) {
            (*w)[static_cast<size_t>(t - a)] += kWeightOne / 3;
        }
        (*w)[static_cast<size_t>(taps[1] - a)] += kWeightOne - 3 * (kWeightOne / 3);
        *first = a;
        return true;
    }

    double total = 0.0;
    for (int64_t j = lo; j < hi; ++j) {
        total += FilterKernel(filter.kind, sd * (static_cast<double>(j) + 0.5 - c));
    }
    const double g = total == 0.0 ? kWeightOne : kWeightOne / total;
    w->resize(static_cast<size_t>(hi - lo));
    double magnitude = 0.0;
    for (int64_t j = lo; j < hi; ++j) {
        const double v = g * FilterKernel(filter.kind, sd * (static_cast<double>(j) + 0.5 - c));
        magnitude += std::fabs(v);
        if (magnitude > 2.0 * kWeightOne) {
            // Positive and negative lobes nearly cancel (possible only with
            // "mitchell" on a window clipped to a few taps): the weights
            // would be huge and the fixed-point sums would overflow.
            return singleTap();
        }
        (*w)[static_cast<size_t>(j - lo)] = static_cast<int32_t>(v);  // truncates toward zero
    }

    // Zero weights at either end are cut off; zeros inside stay.
    size_t a = 0;
    size_t b = w->size();
    while (a < b && (*w)[a] == 0) {
        ++a;
    }
    while (b > a && (*w)[b - 1] == 0) {
        --b;
    }
    if (a == b) {
        return singleTap();
    }
    w->erase(w->begin() + static_cast<std::ptrdiff_t>(b), w->end());
    w->erase(w->begin(), w->begin() + static_cast<std::ptrdiff_t>(a));
    lo += static_cast<int64_t>(a);

    // The truncation rest goes to the tap under the centre (split with its
    // left neighbour for an even number of taps).
    int64_t sum = 0;
    for (int32_t v : *w) {
        sum += v;
    }
    if (sum != kWeightOne) {
        const int32_t rest = static_cast<int32_t>(kWeightOne - sum);
        const int64_t count = static_cast<int64_t>(w->size());
        const int64_t k = std::clamp(static_cast<int64_t>(c), lo, lo + count - 1) - lo;
        if (count % 2 == 1) {
            (*w)[static_cast<size_t>(k)] += rest;
        } else {
            // With the centre on the window's first tap the left share has
            // no tap to go to and is dropped.
            const int32_t half = rest / 2;
            if (k > 0) {
                (*w)[static_cast<size_t>(k - 1)] += half;
            }
            (*w)[static_cast<size_t>(k)] += rest - half;
        }
    }
    *first = lo;
    return true;
}

bool BuildContributions(const FilterInfo &filter, bool ptBoxPoints, int64_t srcSize, int64_t dstSize, float s,
                        size_t maxPoolEntries, WeightPool *pool, std::vector<Contribution> *out)
{
    out->clear();
    out->reserve(static_cast<size_t>(dstSize));
    std::vector<int32_t> w;
    for (int64_t i = 0; i < dstSize; ++i) {
        int64_t first = 0;
        if (!ComputeWeights(filter, ptBoxPoints, srcSize, s, i, &first, &w)) {
            return false;
        }
        if (pool->Size() + w.size() > maxPoolEntries) {
            return false;
        }
        Contribution ct;
        ct.first = static_cast<int32_t>(first);
        ct.count = static_cast<int32_t>(w.size());
        ct.weights = pool->Add(w.data(), ct.count);
        out->push_back(ct);
    }
    return true;
}

}  // namespace ossel_scale
