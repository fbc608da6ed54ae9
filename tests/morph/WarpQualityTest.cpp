// Smooth sampling against exact sampling on a photograph whose correct warped picture is
// known (see WarpQuality.h).
#include <gtest/gtest.h>

#include "imageio/GenericGraphic.h"
#include "morph/WarpQuality.h"

namespace qv {
namespace {

TEST(WarpQualityTest, SmoothSamplingBeatsExactSamplingOnAPhotograph) {
    TGenericGraphic file;
    file.LoadImageFile(std::string(QV_TEST_DATA_DIR) + "/photo/astronaut.jpg");
    TBitmap photo;
    photo.Assign(file);
    photo.SetPixelFormat(pf32bit);
    ASSERT_EQ(photo.Width(), 512);
    // 33 x 33 points at 512 x 512, as the grid that holds the turn without error.
    const testing::TWarpQuality q = testing::MeasureWarp(photo, testing::TurnAndShrink(512, 512), 32);
    EXPECT_LT(q.GridError, 0.1);
    EXPECT_GT(q.Pixels, 150000);
    EXPECT_GE(q.SmoothPsnr - q.ExactPsnr, 3.0) << "exact " << q.ExactPsnr << " dB, smooth " << q.SmoothPsnr << " dB";
}

}  // namespace
}  // namespace qv
