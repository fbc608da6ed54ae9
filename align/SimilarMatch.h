#pragma once
// Matching two pictures of the same object, scene or person (moved, turned or deformed):
// dense optical flow, checked forwards and backwards, thinned to robust samples and
// smoothed into a map from start-picture points to end-picture points.
#include <cstdint>
#include <vector>

#include "align/ThinPlateSpline.h"
#include "framework/Graphics.h"

namespace qv {

struct TSimilarOptions {
    // Pictures larger than this (longer side, pixels) are matched at a reduced size.
    int32_t MaxWorkSide = 1024;
    // Start from a global alignment of matched features when the motion is large.
    bool GlobalAlignment = true;
};

struct TSimilarMatch {
    TThinPlateSpline Map;  // start-picture point -> end-picture point
    std::vector<TPointD> From, To;  // the reliable samples the map was fitted to
    double ReliableFraction = 0;  // of the start picture's area
    bool UsedGlobalAlignment = false;
};

// Throws EAlignError when the pictures differ in size, are empty, or have too few reliable
// matches (a uniform picture, unrelated pictures).
TSimilarMatch MatchSimilar(const TBitmap& Start, const TBitmap& End, const TSimilarOptions& Options = {});

}  // namespace qv
