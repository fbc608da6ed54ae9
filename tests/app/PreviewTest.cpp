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
    Tbpos()->setValue(0);
    const TBitmap& shown = PreviewImage()->Picture();
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
    Tbpos()->setValue(255);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 255), shown), 0);
    EXPECT_GT(DifferentPixels(*RenderedOnWhite(Grid(), 0), shown), 0);
}

TEST_F(EditorTest, ResizingThePreviewScalesTheDisplayNotThePicture)
{
    OpenStart(MakePicture("a.bmp", 64, 48, 1));
    OpenEnd(MakePicture("b.bmp", 64, 48, 2));
    Tbpos()->setValue(10);
    // Half as high as the picture: it is shown at 50 %, centred, proportions kept.
    Preview().resize(300, 24 + Find<QFrame>(Preview(), "Panel1")->height() + Find<QWidget>(Preview(), "PnlTiming")->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(PreviewImage()->size(), QSize(300, 24));
    EXPECT_EQ(PreviewImage()->Zoom(), 0.5);
    const TBitmap& shown = PreviewImage()->Picture();
    ASSERT_EQ(shown.Width(), 64);
    ASSERT_EQ(shown.Height(), 48);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 10), shown), 0);
    // On screen: the 32 x 24 picture in the middle, the window's background beside it.
    const QImage screen = PreviewImage()->grab().toImage();
    const QRgb background = Preview().palette().window().color().rgb();
    EXPECT_EQ(screen.pixel(133, 12), background);
    EXPECT_NE(screen.pixel(134, 12), background);
    EXPECT_NE(screen.pixel(165, 12), background);
    EXPECT_EQ(screen.pixel(166, 12), background);
    // An edit refreshes panes and preview; the window keeps the size the user gave it.
    SetGridSize(4, 4);
    EXPECT_EQ(PreviewImage()->size(), QSize(300, 24));
    // The controls stay visible at the smallest width the window allows.
    Preview().resize(1, Preview().height());
    QCoreApplication::processEvents();
    const int right = SeDuration()->geometry().right();
    EXPECT_LE(right, Find<QFrame>(Preview(), "Panel1")->width());
    EXPECT_GE(Tbpos()->width(), 100);
}

// Playback on a clock the test turns by hand: no waiting, no timing.
class PlaybackTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        Preview().Clock = [this] { return Now; };
        OpenStart(MakePicture("a.bmp", 24, 16, 1));
        OpenEnd(MakePicture("b.bmp", 24, 16, 2));
        SeDuration()->setValue(1000);
    }
    // Slider and picture agree: the picture is the morph at the slider's position.
    int PictureOffSlider() { return DifferentPixels(*RenderedOnWhite(Grid(), Tbpos()->value()), PreviewImage()->Picture()); }
    uint32_t Now = 5000;
};

TEST_F(PlaybackTest, TheSliderFollowsAndTheEndLeavesSliderAndPictureAt255)
{
    Tbpos()->setValue(100);
    SpeedButton1()->click();
    EXPECT_TRUE(Preview().IsPlaying());
    EXPECT_EQ(SpeedButton1()->toolTip(), "Stop");
    EXPECT_EQ(Tbpos()->value(), 0);
    EXPECT_EQ(PictureOffSlider(), 0);
    Now += 500;
    Preview().AdvancePlayback();
    EXPECT_EQ(Tbpos()->value(), 127);
    EXPECT_EQ(PictureOffSlider(), 0);
    Now += 600;  // past the end
    Preview().AdvancePlayback();
    EXPECT_FALSE(Preview().IsPlaying());
    EXPECT_EQ(SpeedButton1()->toolTip(), "Play");
    EXPECT_EQ(Tbpos()->value(), 255);
    EXPECT_EQ(PictureOffSlider(), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(PlaybackTest, EveryWayOfStoppingLeavesSliderAndPictureAgreeing)
{
    const std::pair<const char*, std::function<void()>> stops[] = {
        {"button", [this] { SpeedButton1()->click(); }},
        {"Esc", [this] { QTest::keyClick(&Preview(), Qt::Key_Escape); }},
        {"Space", [this] { QTest::keyClick(&Preview(), Qt::Key_Space); }},
        {"slider", [this] { Tbpos()->triggerAction(QAbstractSlider::SliderSingleStepAdd); }},
    };
    Preview().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Preview()));
    for (const auto& [name, stop] : stops) {
        Preview().Play();
        Now += 300;
        Preview().AdvancePlayback();
        ASSERT_TRUE(Preview().IsPlaying()) << name;
        stop();
        EXPECT_FALSE(Preview().IsPlaying()) << name;
        const int stoppedAt = Tbpos()->value();
        EXPECT_GE(stoppedAt, 76) << name;  // where the animation was (or a step on)
        EXPECT_EQ(PictureOffSlider(), 0) << name;
        Now += 300;  // a timer tick that was already queued changes nothing
        Preview().AdvancePlayback();
        EXPECT_EQ(Tbpos()->value(), stoppedAt) << name;
    }
    // Space also starts playback.
    QTest::keyClick(&Preview(), Qt::Key_Space);
    EXPECT_TRUE(Preview().IsPlaying());
    Preview().Stop();
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

