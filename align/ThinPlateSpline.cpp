#include "align/ThinPlateSpline.h"

#include <cmath>
#include <opencv2/core.hpp>

namespace qv {

namespace {

double Kernel(double dx, double dy) {
    const double r2 = dx * dx + dy * dy;
    return r2 > 0 ? r2 * std::log(r2) * 0.5 : 0.0;
}

}  // namespace

void TThinPlateSpline::Fit(const std::vector<TPointD>& From, const std::vector<TPointD>& To, double Smoothing) {
    FCentres.clear();
    FWx.clear();
    FWy.clear();
    FOrigin = {};
    FScale = 1;
    const size_t n = std::min(From.size(), To.size());
    FAx[0] = 0, FAx[1] = 1, FAx[2] = 0;
    FAy[0] = 0, FAy[1] = 0, FAy[2] = 1;
    if (n == 0) return;

    // Normalised coordinates keep the system well conditioned whatever the picture size.
    for (size_t i = 0; i < n; ++i) {
        FOrigin.X += From[i].X / double(n);
        FOrigin.Y += From[i].Y / double(n);
    }
    double spread = 0;
    for (size_t i = 0; i < n; ++i)
        spread += ((From[i].X - FOrigin.X) * (From[i].X - FOrigin.X) + (From[i].Y - FOrigin.Y) * (From[i].Y - FOrigin.Y)) /
                  double(n);
    FScale = spread > 0 ? std::sqrt(spread) : 1.0;
    auto norm = [&](TPointD p) { return TPointD{(p.X - FOrigin.X) / FScale, (p.Y - FOrigin.Y) / FScale}; };

    if (n < 3) {
        // A translation: the mean offset.
        for (size_t i = 0; i < n; ++i) {
            const TPointD f = norm(From[i]), t = norm(To[i]);
            FAx[0] += (t.X - f.X) / double(n);
            FAy[0] += (t.Y - f.Y) / double(n);
        }
        return;
    }

    FCentres.resize(n);
    for (size_t i = 0; i < n; ++i) FCentres[i] = norm(From[i]);
    const int m = int(n) + 3;
    cv::Mat A = cv::Mat::zeros(m, m, CV_64F);
    cv::Mat b = cv::Mat::zeros(m, 2, CV_64F);
    for (int i = 0; i < int(n); ++i) {
        const TPointD pi = FCentres[size_t(i)];
        for (int j = 0; j < int(n); ++j) {
            const TPointD pj = FCentres[size_t(j)];
            A.at<double>(i, j) = Kernel(pi.X - pj.X, pi.Y - pj.Y);
        }
        A.at<double>(i, i) += Smoothing;
        const double row[3] = {1.0, pi.X, pi.Y};
        for (int k = 0; k < 3; ++k) {
            A.at<double>(i, int(n) + k) = row[k];
            A.at<double>(int(n) + k, i) = row[k];
        }
        const TPointD t = norm(To[size_t(i)]);
        b.at<double>(i, 0) = t.X;
        b.at<double>(i, 1) = t.Y;
    }
    cv::Mat x;
    if (!cv::solve(A, b, x, cv::DECOMP_LU)) cv::solve(A, b, x, cv::DECOMP_SVD);
    FWx.resize(n);
    FWy.resize(n);
    for (int i = 0; i < int(n); ++i) {
        FWx[size_t(i)] = x.at<double>(i, 0);
        FWy[size_t(i)] = x.at<double>(i, 1);
    }
    for (int k = 0; k < 3; ++k) {
        FAx[k] = x.at<double>(int(n) + k, 0);
        FAy[k] = x.at<double>(int(n) + k, 1);
    }
}

TPointD TThinPlateSpline::Map(TPointD P) const {
    const double px = (P.X - FOrigin.X) / FScale;
    const double py = (P.Y - FOrigin.Y) / FScale;
    double x = FAx[0] + FAx[1] * px + FAx[2] * py;
    double y = FAy[0] + FAy[1] * px + FAy[2] * py;
    for (size_t i = 0; i < FCentres.size(); ++i) {
        const double u = Kernel(px - FCentres[i].X, py - FCentres[i].Y);
        x += FWx[i] * u;
        y += FWy[i] * u;
    }
    return {x * FScale + FOrigin.X, y * FScale + FOrigin.Y};
}

}  // namespace qv
