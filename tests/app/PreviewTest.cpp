// The preview window: slider, resize, playback.
#include <QFrame>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>

#include "EditorFixture.h"

namespace qv::test {


TEST_F(EditorTest, SliderAtZeroShowsTheStartPicture)
{
    OpenStart(MakePicture("a.bmp", 40, 30, 1));
    OpenEnd(MakePicture("b.bmp", 40, 30, 2));
    Preview().Tbpos->setValue(0);
    const TBitmap& shown = Preview().Image1->Picture();
    ASSERT_EQ(shown.Width(), 40);
    // Every pixel the triangles cover is the start picture's own colour.
    int covered = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const TColor c = shown.PixelColor(x, y) & 0xFFFFFF;
            if (c == (Grid().StartBmp.PixelColor(x, y) & 0xFFFFFF))
                ++covered;
        }
    EXPECT_GE(covered, 39 * 29);
    Preview().Tbpos->setValue(255);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 255), shown), 0);
    EXPECT_GT(DifferentPixels(*RenderedOnWhite(Grid(), 0), shown), 0);
}

TEST_F(EditorTest, ResizingThePreviewScalesTheDisplayNotThePicture)
{
    OpenStart(MakePicture("a.bmp", 64, 48, 1));
    OpenEnd(MakePicture("b.bmp", 64, 48, 2));
    Preview().Tbpos->setValue(10);
    // Half as high as the picture: it is shown at 50 %, centred, proportions kept.
    Preview().resize(300, 24 + Preview().Panel1->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(Preview().Image1->size(), QSize(300, 24));
    EXPECT_EQ(Preview().Image1->Zoom(), 0.5);
    const TBitmap& shown = Preview().Image1->Picture();
    ASSERT_EQ(shown.Width(), 64);
    ASSERT_EQ(shown.Height(), 48);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 10), shown), 0);
    // On screen: the 32 x 24 picture in the middle, the window's background beside it.
    const QImage screen = Preview().Image1->grab().toImage();
    const QRgb background = Preview().palette().window().color().rgb();
    EXPECT_EQ(screen.pixel(133, 12), background);
    EXPECT_NE(screen.pixel(134, 12), background);
    EXPECT_NE(screen.pixel(165, 12), background);
    EXPECT_EQ(screen.pixel(166, 12), background);
    // The controls stay visible at the smallest width the window allows.
    Preview().resize(1, Preview().height());
    QCoreApplication::processEvents();
    const int right = Preview().SeDuration->geometry().right();
    EXPECT_LE(right, Preview().Panel1->width());
    EXPECT_GE(Preview().Tbpos->width(), 100);
}

TEST_F(EditorTest, PlayEndsAtTheLastPositionWithTheSliderUnmoved)
{
    OpenStart(MakePicture("a.bmp", 24, 16, 1));
    OpenEnd(MakePicture("b.bmp", 24, 16, 2));
    Preview().SeDuration->setValue(10);
    Preview().Tbpos->setValue(100);
    Preview().SpeedButton1->click();
    EXPECT_EQ(Preview().LastPlayPosition(), 255);
    EXPECT_GE(Preview().LastPlayFrames(), 1);
    EXPECT_EQ(Preview().Tbpos->value(), 100);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 255), Preview().Image1->Picture()), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EditorTest, PlaybackLetsOtherCommandsRunBetweenFrames)
{
    Preview().SeDuration->setValue(60);
    int ranInside = 0;
    // Posted events run inside the play loop, between two frames.
    QTimer::singleShot(0, &Preview(), [&] {
        ++ranInside;
        Preview().Tbpos->setValue(3);  // a slider move in the middle of playing
    });
    Preview().SpeedButton1->click();
    EXPECT_EQ(ranInside, 1);
    EXPECT_EQ(Preview().Tbpos->value(), 3);
    EXPECT_EQ(Preview().LastPlayPosition(), 255);
}

TEST(PlayPositionTest, FollowsElapsedTimeAndStopsAt255)
{
    EXPECT_EQ(PlayPosition(0, 3000), 0);
    EXPECT_EQ(PlayPosition(30, 3000), 2);        // 7650 / 3000 = 2.55
    EXPECT_EQ(PlayPosition(1500, 3000), 127);    // 127.5 truncated
    EXPECT_EQ(PlayPosition(2999, 3000), 254);
    EXPECT_EQ(PlayPosition(3000, 3000), 255);
    EXPECT_EQ(PlayPosition(9000, 3000), 255);
    EXPECT_EQ(PlayPosition(11, 10), 255);
    // An hour-long stall inside the loop (a modal box left open) must still end on 255;
    // 32-bit products would wrap around here and land anywhere.
    EXPECT_EQ(PlayPosition(20'000'000u, 3000), 255);
    EXPECT_EQ(PlayPosition(0xFFFFFFFFu, 10000), 255);
    EXPECT_EQ(PlayPosition(5, 0), 255);
}

}  // namespace qv::test

namespace qv::test {

TEST_F(EditorTest, ASecondPlaybackRunsInsideTheFirstWhichStillEndsAt255)
{
    OpenStart(MakePicture("a.bmp", 24, 16, 1));
    OpenEnd(MakePicture("b.bmp", 24, 16, 2));
    Preview().SeDuration->setValue(40);
    int nested = 0;
    QTimer::singleShot(0, &Preview(), [&] {
        ++nested;
        Preview().SpeedButton1->click();  // runs to its end here, inside the first loop
        EXPECT_EQ(Preview().LastPlayPosition(), 255);
    });
    Preview().SpeedButton1->click();
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(Preview().LastPlayPosition(), 255);
    EXPECT_EQ(Preview().Tbpos->value(), 128);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 255), Preview().Image1->Picture()), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

}  // namespace qv::test
