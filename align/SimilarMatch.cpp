#include "align/SimilarMatch.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "align/Align.h"
#include "align/CvPicture.h"

namespace qv {

namespace {

// A match counts when the backward flow brings it back to within this many pixels (plus a
// share of its length) of where it started, and the picture has some texture there: flow
// in flat areas is only smoothed in from the surroundings.
constexpr double kRoundTripPixels = 1.0;
constexpr double kRoundTripShare = 0.05;
constexpr double kMinTexture = 2e-5;  // smallest eigenvalue of the structure tensor, 8-bit scale
// A sample cell needs this share of reliable pixels; the picture this many samples.
constexpr double kCellSupport = 0.3;
constexpr size_t kMinSamples = 8;
constexpr double kMinSampleShare = 0.03;
constexpr double kSmoothing = 1e-3;
// Median feature motion (working pixels) from which the global alignment is used.
constexpr double kGlobalMinMove = 20.0;

cv::Mat Scaled(const cv::Mat& grey, double scale) {
    if (scale == 1.0) return grey;
    cv::Mat out;
    cv::resize(grey, out, cv::Size(), scale, scale, cv::INTER_AREA);
    return out;
}

cv::Point2d Apply(const cv::Matx33d& H, cv::Point2d p) {
    const cv::Vec3d v = H * cv::Vec3d(p.x, p.y, 1.0);
    return {v[0] / v[2], v[1] / v[2]};
}

double Median(std::vector<double>& v) {
    const auto mid = v.begin() + std::ptrdiff_t(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// An affine map from matched ORB features, when the features agree on one and the motion is
// large enough that the flow would have to search far; else none. Affine rather than a
// homography: deformed subjects fit no plane, and a wrong perspective term throws far
// corners off.
bool GlobalAlignment(const cv::Mat& a, const cv::Mat& b, cv::Matx33d& H) {
    cv::Ptr<cv::ORB> orb = cv::ORB::create(1500);
    std::vector<cv::KeyPoint> ka, kb;
    cv::Mat da, db;
    orb->detectAndCompute(a, cv::noArray(), ka, da);
    orb->detectAndCompute(b, cv::noArray(), kb, db);
    if (da.rows < 2 || db.rows < 2) return false;
    cv::BFMatcher matcher(cv::NORM_HAMMING);
    std::vector<std::vector<cv::DMatch>> knn;
    matcher.knnMatch(da, db, knn, 2);
    std::vector<cv::Point2f> pa, pb;
    for (const auto& m : knn)
        if (m.size() == 2 && m[0].distance < 0.8f * m[1].distance) {
            pa.push_back(ka[size_t(m[0].queryIdx)].pt);
            pb.push_back(kb[size_t(m[0].trainIdx)].pt);
        }
    constexpr size_t kMinInliers = 15;
    if (pa.size() < kMinInliers) return false;
    cv::Mat inliers;
    const cv::Mat affine = cv::estimateAffine2D(pa, pb, inliers, cv::RANSAC, 3.0);
    if (affine.empty()) return false;
    cv::Mat h = cv::Mat::eye(3, 3, CV_64F);
    affine.copyTo(h.rowRange(0, 2));
    std::vector<double> moves;
    for (size_t i = 0; i < pa.size(); ++i)
        if (inliers.at<uchar>(int(i))) moves.push_back(std::hypot(pb[i].x - pa[i].x, pb[i].y - pa[i].y));
    if (moves.size() < kMinInliers || double(moves.size()) < 0.3 * double(pa.size())) return false;
    if (Median(moves) < kGlobalMinMove) return false;  // the flow's pyramid handles that on its own
    const cv::Matx33d g(h);
    // A sane map keeps orientation and scales the area by less than 4 either way.
    const double det = g(0, 0) * g(1, 1) - g(0, 1) * g(1, 0);
    if (!(det > 0.25 && det < 4.0)) return false;
    H = g;
    return true;
}

cv::Vec2f Bilinear(const cv::Mat& flow, double x, double y) {
    const int x0 = std::clamp(int(std::floor(x)), 0, flow.cols - 1);
    const int y0 = std::clamp(int(std::floor(y)), 0, flow.rows - 1);
    const int x1 = std::min(x0 + 1, flow.cols - 1);
    const int y1 = std::min(y0 + 1, flow.rows - 1);
    const float fx = float(std::clamp(x - x0, 0.0, 1.0));
    const float fy = float(std::clamp(y - y0, 0.0, 1.0));
    const cv::Vec2f top = flow.at<cv::Vec2f>(y0, x0) * (1 - fx) + flow.at<cv::Vec2f>(y0, x1) * fx;
    const cv::Vec2f bottom = flow.at<cv::Vec2f>(y1, x0) * (1 - fx) + flow.at<cv::Vec2f>(y1, x1) * fx;
    return top * (1 - fy) + bottom * fy;
}

}  // namespace

TSimilarMatch MatchSimilar(const TBitmap& Start, const TBitmap& End, const TSimilarOptions& Options) {
    if (Start.Empty() || End.Empty()) throw EAlignError("There is no picture to match: load a start and an end picture first.");
    if (Start.Width() != End.Width() || Start.Height() != End.Height())
        throw EAlignError(Format("The start picture (%d x %d) and the end picture (%d x %d) differ in size.",
                                 Start.Width(), Start.Height(), End.Width(), End.Height()));
    const int32_t side = std::max(Start.Width(), Start.Height());
    const double scale = side > Options.MaxWorkSide ? double(Options.MaxWorkSide) / side : 1.0;
    const cv::Mat a = Scaled(GreyOf(Start), scale);
    const cv::Mat b = Scaled(GreyOf(End), scale);
    const int w = a.cols, h = a.rows;
    if (w < 16 || h < 16) throw EAlignError("The pictures are too small to match (16 x 16 pixels at least).");

    TSimilarMatch result;
    cv::Matx33d H = cv::Matx33d::eye();
    cv::Mat bw = b;
    if (Options.GlobalAlignment && GlobalAlignment(a, b, H)) {
        // The end picture brought over the start picture; the flow then finds what is left.
        cv::warpPerspective(b, bw, cv::Mat(H), a.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        result.UsedGlobalAlignment = true;
    }

    cv::Ptr<cv::DISOpticalFlow> dis = cv::DISOpticalFlow::create(cv::DISOpticalFlow::PRESET_MEDIUM);
    cv::Mat fwd, bwd;
    dis->calc(a, bw, fwd);
    dis->calc(bw, a, bwd);
    cv::Mat texture;
    cv::cornerMinEigenVal(a, texture, 5, 3);

    // Reliable pixels, gathered by cell; each cell with enough of them gives one sample:
    // the mean place of its reliable pixels and the median of their displacements.
    const int step = std::max(8, int(std::lround(std::sqrt(double(w) * h / 500.0))));
    const int cellsX = (w + step - 1) / step, cellsY = (h + step - 1) / step;
    struct TCell {
        bool Ok = false;
        double X = 0, Y = 0, Dx = 0, Dy = 0;
    };
    std::vector<TCell> cells(size_t(cellsX) * size_t(cellsY));
    std::vector<double> dxs, dys;
    size_t reliable = 0;
    for (int cy = 0; cy < cellsY; ++cy)
        for (int cx = 0; cx < cellsX; ++cx) {
            dxs.clear();
            dys.clear();
            double sx = 0, sy = 0;
            const int x0 = cx * step, y0 = cy * step;
            const int x1 = std::min(w, x0 + step), y1 = std::min(h, y0 + step);
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    if (texture.at<float>(y, x) < kMinTexture) continue;
                    const cv::Vec2f f = fwd.at<cv::Vec2f>(y, x);
                    const double tx = x + f[0], ty = y + f[1];
                    if (tx < 0 || ty < 0 || tx > w - 1 || ty > h - 1) continue;
                    const cv::Vec2f back = Bilinear(bwd, tx, ty);
                    const double len = std::hypot(f[0], f[1]);
                    if (std::hypot(f[0] + back[0], f[1] + back[1]) > kRoundTripPixels + kRoundTripShare * len) continue;
                    const cv::Point2d q = Apply(H, {tx, ty});
                    if (q.x < 0 || q.y < 0 || q.x > w - 1 || q.y > h - 1) continue;
                    dxs.push_back(q.x - x);
                    dys.push_back(q.y - y);
                    sx += x;
                    sy += y;
                }
            reliable += dxs.size();
            if (double(dxs.size()) < kCellSupport * (x1 - x0) * (y1 - y0)) continue;
            TCell& c = cells[size_t(cy) * size_t(cellsX) + size_t(cx)];
            c.Ok = true;
            c.X = sx / double(dxs.size());
            c.Y = sy / double(dys.size());
            c.Dx = Median(dxs);
            c.Dy = Median(dys);
        }

    // A sample far from what its neighbours say is a false match that passed both checks
    // (repeated texture, an occlusion edge): dropped.
    const double maxJump = std::max(2.0, 0.5 * step);
    const double inverse = 1.0 / scale;
    for (int cy = 0; cy < cellsY; ++cy)
        for (int cx = 0; cx < cellsX; ++cx) {
            const TCell& c = cells[size_t(cy) * size_t(cellsX) + size_t(cx)];
            if (!c.Ok) continue;
            dxs.clear();
            dys.clear();
            for (int ny = std::max(0, cy - 1); ny <= std::min(cellsY - 1, cy + 1); ++ny)
                for (int nx = std::max(0, cx - 1); nx <= std::min(cellsX - 1, cx + 1); ++nx) {
                    const TCell& n = cells[size_t(ny) * size_t(cellsX) + size_t(nx)];
                    if (&n == &c || !n.Ok) continue;
                    dxs.push_back(n.Dx);
                    dys.push_back(n.Dy);
                }
            if (dxs.size() >= 2 && std::hypot(c.Dx - Median(dxs), c.Dy - Median(dys)) > maxJump) continue;
            // Working-size pixel centres back to picture pixels.
            const TPointD from{(c.X + 0.5) * inverse - 0.5, (c.Y + 0.5) * inverse - 0.5};
            result.From.push_back(from);
            result.To.push_back({from.X + c.Dx * inverse, from.Y + c.Dy * inverse});
        }

    result.ReliableFraction = double(reliable) / (double(w) * h);
    if (result.From.size() < kMinSamples || double(result.From.size()) < kMinSampleShare * double(cells.size()))
        throw EAlignError(
            "No reliable match between the start and the end picture: they are too different or too uniform.");
    result.Map.Fit(result.From, result.To, kSmoothing);
    return result;
}

}  // namespace qv
