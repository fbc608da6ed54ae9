#include "align/CvPicture.h"

#include <opencv2/imgproc.hpp>

namespace qv {

cv::Mat GreyOf(const TBitmap& Picture) {
    cv::Mat grey(Picture.Height(), Picture.Width(), CV_8U);
    if (Picture.Empty()) return grey;
    const TBitmap* source = &Picture;
    TBitmap converted;
    if (Picture.PixelFormat() != pf32bit) {
        converted.Assign(Picture);
        converted.SetPixelFormat(pf32bit);
        source = &converted;
    }
    for (int32_t y = 0; y < source->Height(); ++y) {
        // A header over one row of B,G,R,X pixels; cvtColor only reads it.
        const cv::Mat row(1, source->Width(), CV_8UC4, const_cast<uint8_t*>(source->ScanLine(y)));
        cv::cvtColor(row, grey.row(y), cv::COLOR_BGRA2GRAY);
    }
    return grey;
}

}  // namespace qv
