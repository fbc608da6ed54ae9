#pragma once
// Private to this folder: our rasters as OpenCV matrices.
#include <opencv2/core.hpp>

#include "framework/Graphics.h"

namespace qv {

// The picture as 8-bit grey (BT.601 weights), whatever its pixel format.
cv::Mat GreyOf(const TBitmap& Picture);

}  // namespace qv
