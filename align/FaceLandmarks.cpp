#include "align/FaceLandmarks.h"

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/opencv/cv_image.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <opencv2/imgproc.hpp>

#include "align/Align.h"
#include "align/CvPicture.h"

namespace qv {

struct TFaceModel::TImpl {
    dlib::shape_predictor Predictor;
    // The detector keeps scratch buffers between calls.
    mutable dlib::frontal_face_detector Detector = dlib::get_frontal_face_detector();
    mutable std::mutex Lock;
};

TFaceModel::TFaceModel(std::unique_ptr<TImpl> Impl) : FImpl(std::move(Impl)) {}
TFaceModel::~TFaceModel() = default;

std::shared_ptr<const TFaceModel> TFaceModel::Load(const std::string& FileName) {
    static std::mutex cacheLock;
    static std::map<std::string, std::shared_ptr<const TFaceModel>> cache;
    std::error_code ec;
    const std::string key = std::filesystem::weakly_canonical(FileName, ec).string();
    std::lock_guard<std::mutex> guard(cacheLock);
    if (auto it = cache.find(key); it != cache.end()) return it->second;

    std::ifstream in(FileName, std::ios::binary);
    if (!in)
        throw EAlignError("The face landmark model " + FileName +
                          " cannot be read (Debian's package libdlib-data installs it; --model or $QV_FACE_MODEL "
                          "name another).");
    auto impl = std::make_unique<TImpl>();
    try {
        dlib::deserialize(impl->Predictor, in);
    } catch (const std::bad_alloc&) {
        throw EAlignError("The face landmark model " + FileName + " is damaged (it claims more memory than there is).");
    } catch (const std::exception& e) {
        throw EAlignError("The face landmark model " + FileName + " is damaged: " + e.what());
    }
    if (impl->Predictor.num_parts() != kLandmarkCount)
        throw EAlignError(Format("The face landmark model %s has %lu landmarks, not the %d this program places.",
                                 FileName.c_str(), static_cast<unsigned long>(impl->Predictor.num_parts()),
                                 kLandmarkCount));
    std::shared_ptr<const TFaceModel> model(new TFaceModel(std::move(impl)));
    cache.emplace(key, model);
    return model;
}

namespace {

// The detector finds faces of about 80 pixels and more. Large pictures are searched at a
// reduced size (fast, and faces in them are large); small ones also at double size.
constexpr int kDetectSide = 800;
constexpr int kUpscaleBelow = 600;
// Refining the landmarks: passes, and the box side for the landmarks' spread (their RMS
// distance from their centre), as the detector's boxes have it on average.
constexpr int kRefinePasses = 2;
constexpr double kBoxPerSpread = 2.8;
constexpr double kJitterScales[] = {0.96, 1.0, 1.04};
constexpr double kJitterShifts[][2] = {{0, 0}, {-0.03, 0}, {0.03, 0}, {0, -0.03}, {0, 0.03}};

std::vector<dlib::rectangle> Detect(const cv::Mat& grey, dlib::frontal_face_detector& detector) {
    const int side = std::max(grey.cols, grey.rows);
    auto detectAt = [&](double scale) {
        cv::Mat scaled;
        if (scale == 1.0)
            scaled = grey;
        else
            cv::resize(grey, scaled, cv::Size(), scale, scale, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
        const dlib::cv_image<unsigned char> image(scaled);
        std::vector<dlib::rectangle> found = detector(image);
        for (dlib::rectangle& r : found)
            r = dlib::rectangle(long(std::lround(r.left() / scale)), long(std::lround(r.top() / scale)),
                                long(std::lround(r.right() / scale)), long(std::lround(r.bottom() / scale)));
        return found;
    };
    const double scale = side > kDetectSide ? double(kDetectSide) / side : 1.0;
    std::vector<dlib::rectangle> found = detectAt(scale);
    if (found.empty() && side * scale < kUpscaleBelow) found = detectAt(2.0 * scale);
    return found;
}

}  // namespace

TFace FindFace(const TBitmap& Picture, const TFaceModel& Model) {
    TFace face;
    if (Picture.Empty()) return face;
    const cv::Mat grey = GreyOf(Picture);
    const TFaceModel::TImpl& impl = Model.Impl();
    std::lock_guard<std::mutex> guard(impl.Lock);
    const std::vector<dlib::rectangle> found = Detect(grey, impl.Detector);
    face.FacesFound = int32_t(found.size());
    if (found.empty()) return face;
    const dlib::rectangle largest =
        *std::max_element(found.begin(), found.end(), [](const auto& l, const auto& r) { return l.area() < r.area(); });
    const dlib::cv_image<unsigned char> image(grey);
    dlib::full_object_detection shape = impl.Predictor(image, largest);
    // The detector's box moves in coarse steps and ignores how the face is deformed, and the
    // predictor starts from it; placed again from a box derived from the landmarks themselves,
    // the same face gives the same landmarks wherever and however the detector saw it.
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        double mx = 0, my = 0;
        for (unsigned i = 0; i < shape.num_parts(); ++i) {
            mx += double(shape.part(i).x()) / kLandmarkCount;
            my += double(shape.part(i).y()) / kLandmarkCount;
        }
        double spread = 0;
        for (unsigned i = 0; i < shape.num_parts(); ++i) {
            const double dx = double(shape.part(i).x()) - mx, dy = double(shape.part(i).y()) - my;
            spread += (dx * dx + dy * dy) / kLandmarkCount;
        }
        const double half = kBoxPerSpread * std::sqrt(spread) / 2;
        if (pass + 1 < kRefinePasses) {
            shape = impl.Predictor(image, dlib::rectangle(std::lround(mx - half), std::lround(my - half),
                                                          std::lround(mx + half), std::lround(my + half)));
            continue;
        }
        // The last pass averages the landmarks from slightly different boxes: less jitter,
        // and finer than the whole pixels the predictor gives.
        face.Points = {};
        int n = 0;
        for (const double scale : kJitterScales)
            for (const auto& shift : kJitterShifts) {
                    const double h = half * scale, cx = mx + shift[0] * half, cy = my + shift[1] * half;
                    const dlib::full_object_detection s = impl.Predictor(
                        image, dlib::rectangle(std::lround(cx - h), std::lround(cy - h), std::lround(cx + h),
                                               std::lround(cy + h)));
                    for (int i = 0; i < kLandmarkCount; ++i) {
                        face.Points[size_t(i)].X += double(s.part(unsigned(i)).x());
                        face.Points[size_t(i)].Y += double(s.part(unsigned(i)).y());
                    }
                    ++n;
                }
        for (TPointD& p : face.Points) p = {p.X / n, p.Y / n};
    }
    return face;
}

}  // namespace qv
