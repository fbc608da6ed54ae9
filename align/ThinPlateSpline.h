#pragma once
// A smooth map through scattered point pairs: the thin-plate spline, the smoothest map (least
// bending energy) that takes each given point to its partner. It reproduces affine maps
// exactly, extrapolates affinely far from the points and needs no lattice, which suits the
// irregular sets of reliable matches it is fed.
#include <cstddef>
#include <vector>

namespace qv {

struct TPointD {
    double X = 0;
    double Y = 0;
};

class TThinPlateSpline {
public:
    // Fits the map From[i] -> To[i]. Smoothing 0 interpolates; a positive value trades
    // exactness for smoothness (the points are first scaled to a spread of about 1), which
    // keeps noisy matches from making the map wiggle. No pairs give the identity, one or two
    // the mean translation; a singular set (repeated or collinear points) the least-squares
    // solution.
    void Fit(const std::vector<TPointD>& From, const std::vector<TPointD>& To, double Smoothing = 0);
    TPointD Map(TPointD P) const;
    size_t Size() const { return FCentres.size(); }

private:
    std::vector<TPointD> FCentres;  // normalised
    std::vector<double> FWx, FWy;   // kernel weights
    double FAx[3] = {0, 1, 0};      // affine part: a0 + a1 x + a2 y (normalised)
    double FAy[3] = {0, 0, 1};
    TPointD FOrigin;
    double FScale = 1;
};

}  // namespace qv
