#pragma once
// Faces and their 68 landmarks (the jaw 0-16, brows 17-26, nose 27-35, eyes 36-47, mouth
// 48-67, in the numbering of the shipped model) found by a frontal face detector and a
// shape predictor.
#include <array>
#include <memory>
#include <string>

#include "align/ThinPlateSpline.h"
#include "framework/Graphics.h"

namespace qv {

constexpr int kLandmarkCount = 68;

class TFaceModel {
public:
    // The model in the file, loaded once per process and file (the file is large and slow to
    // read). Throws EAlignError naming the file when it is missing or damaged.
    static std::shared_ptr<const TFaceModel> Load(const std::string& FileName);
    ~TFaceModel();
    TFaceModel(const TFaceModel&) = delete;
    TFaceModel& operator=(const TFaceModel&) = delete;

    struct TImpl;
    const TImpl& Impl() const { return *FImpl; }

private:
    explicit TFaceModel(std::unique_ptr<TImpl> Impl);
    std::unique_ptr<TImpl> FImpl;
};

struct TFace {
    std::array<TPointD, kLandmarkCount> Points{};
    int32_t FacesFound = 0;  // the largest of them is the one described
};

// The faces in the picture (FacesFound 0: none, Points untouched).
TFace FindFace(const TBitmap& Picture, const TFaceModel& Model);

}  // namespace qv
