// Zoomed picture panes: the screen <-> picture arithmetic, what a zoomed pane shows, picking
// and dragging at several zooms, linked panes, and a large picture in the panes and preview.
#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

#include "EditorFixture.h"
#include "app/GridOverlay.h"
#include "app/PaneView.h"
#include "app/PaneViews.h"
#include "morph/Bmp_.h"

namespace qv::test {

TEST(PaneViewTest, ScreenAndPictureAgreeAtEveryZoom)
{
    for (double zoom : ZoomSteps()) {
        for (int p : {0, 1, 2, 7, 375, 1999}) {
            const QRect r = PixelOnScreen(QPoint(p, p), zoom);
            if (zoom < 1) {
                // Several picture pixels share a screen pixel; it leads back to one of them
                // whose screen pixel it is.
                const QPoint back = WidgetToPicture(r.topLeft(), zoom);
                EXPECT_LE(back.x(), p) << zoom << " " << p;
                EXPECT_EQ(PixelOnScreen(back, zoom), r) << zoom << " " << p;
                continue;
            }
            // The first and last screen pixels of a picture pixel lead back to it, and the
            // screen pixel before it to the pixel before: no gap, no overlap.
            EXPECT_EQ(WidgetToPicture(r.topLeft(), zoom), QPoint(p, p)) << zoom << " " << p;
            EXPECT_EQ(WidgetToPicture(r.bottomRight(), zoom), QPoint(p, p)) << zoom << " " << p;
            EXPECT_EQ(WidgetToPicture(r.topLeft() - QPoint(1, 1), zoom), QPoint(p - 1, p - 1)) << zoom << " " << p;
            EXPECT_EQ(r.width(), int(std::ceil((p + 1) * zoom - 1e-9)) - int(std::ceil(p * zoom - 1e-9)));
        }
        // A press left of or above the picture gives negative coordinates.
        EXPECT_LT(WidgetToPicture(QPointF(-1, -1), zoom).x(), 0);
    }
    EXPECT_EQ(PixelOnScreen(QPoint(400, 375), 8), QRect(3200, 3000, 8, 8));
    EXPECT_EQ(ScaledSize(QSize(2000, 1500), 8), QSize(16000, 12000));
    EXPECT_EQ(ScaledSize(QSize(2000, 1500), FitZoom(QSize(2000, 1500), QSize(395, 500))), QSize(395, 297));
}

TEST(PaneViewTest, ZoomStepsStopAtFitAndAt1600)
{
    const double fit = FitZoom(QSize(2000, 1500), QSize(395, 500));  // 0.1975
    struct Case {
        double from;
        bool in;
        double floor;
        double to;
    } cases[] = {
        {fit, true, fit, 0.25},       {0.25, false, fit, fit}, {fit, false, fit, fit},   {1, true, 1, 1.5},
        {1, false, 1, 1},             {4, true, 1, 6},         {12, true, 1, 16},        {16, true, 1, 16},
        {6, false, 1, 4},             {1.0 / 32, false, 1.0 / 64, 1.0 / 64},
    };
    for (const Case& c : cases)
        EXPECT_DOUBLE_EQ(c.in ? ZoomInStep(c.from) : ZoomOutStep(c.from, c.floor), c.to) << c.from << " " << c.in;
    EXPECT_EQ(MinZoom(QSize(24, 20), QSize(395, 500)), 1.0);  // a small picture never below 100 %
    EXPECT_EQ(FitZoom(QSize(24, 20), QSize(395, 500)), 16.0);
    // The reach is the grid's own three at 100 % and above, and grows when zoomed out.
    EXPECT_EQ(PickReach(1), 3);
    EXPECT_EQ(PickReach(8), 3);
    EXPECT_EQ(PickReach(0.25), 16);
    EXPECT_EQ(PickReach(fit), 21);
}

// A picture whose every pixel has a colour of its own (near the point used below).
static void FillDistinct(TBitmap& b, int width, int height)
{
    b.SetPixelFormat(pf32bit);
    b.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.SetPixelColor(x, y, RGBColor(uint8_t(x * 5), uint8_t(y * 3), uint8_t(x + y)));
}

static QRgb Rgb(TColor c)
{
    return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}

TEST(ZoomedPaneTest, ShowsCrispPixelsAndOnePixelGridLinesAbove400)
{
    TBmp plain;
    FillDistinct(plain, 600, 500);
    TMorphGrid grid;
    grid.SetPictureSize(Point(600, 500));
    grid.SetGridSize(Point(3, 3));  // the middle point at (300, 250)
    grid.SelCol = -1;
    grid.SelRow = -1;
    TPicturePane pane;
    pane.SetControlSize(600, 500);
    pane.Picture().SetPixelFormat(pf32bit);
    pane.Picture().SetSize(600, 500);
    pane.SetPlainPicture(&plain);
    pane.OnPaintOverlay = [&](QPainter& p, const QRect& dirty, double zoom) { PaintGridOverlay(p, grid, true, zoom, dirty); };
    for (int zoom : {6, 8, 16}) {
        pane.SetZoom(zoom);
        ASSERT_EQ(pane.size(), QSize(600 * zoom, 500 * zoom));
        // Picture pixels (297 .. 298, 246 .. 247): every screen pixel of each is its colour.
        const QPoint corner = PixelOnScreen(QPoint(297, 246), zoom).topLeft();
        const QImage shot = pane.grab(QRect(corner, QSize(2 * zoom, 2 * zoom))).toImage();
        int wrong = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                wrong += shot.pixel(x, y) != Rgb(plain.PixelColor(297 + x / zoom, 246 + y / zoom));
        EXPECT_EQ(wrong, 0) << zoom;
        // The middle row's line runs through the middle of its pixels, one screen pixel high.
        const int lineY = PixelOnScreen(QPoint(0, 250), zoom).center().y();
        const QImage row = pane.grab(QRect(PixelOnScreen(QPoint(200, 250), zoom).left(), lineY - 1, 1, 3)).toImage();
        EXPECT_EQ(row.pixel(0, 0), Rgb(plain.PixelColor(200, 250))) << zoom;
        EXPECT_EQ(row.pixel(0, 1), Rgb(clGray)) << zoom;
        EXPECT_EQ(row.pixel(0, 2), Rgb(plain.PixelColor(200, 250))) << zoom;
        // The mark frames the point's pixel and leaves the pixel itself visible.
        const QRect px = PixelOnScreen(QPoint(300, 250), zoom);
        const QImage mark = pane.grab(px.adjusted(-2, -2, 2, 2)).toImage();
        EXPECT_EQ(mark.pixel(0, 0), Rgb(clLime)) << zoom;
        EXPECT_EQ(mark.pixel(mark.width() - 1, mark.height() - 1), Rgb(clLime)) << zoom;
        EXPECT_EQ(mark.pixel(3, 3), Rgb(plain.PixelColor(300, 250))) << zoom;
    }
}

// The editor with a picture larger than its panes.
class ZoomEditorTest : public EditorTest {
protected:
    void SetUp() override
    {
        EditorTest::SetUp();
        // A test before may have left buttons down in Qt's view (QTest's double clicks of
        // side buttons do): the drags below must start with none held.
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton, Qt::BackButton,
                                  Qt::ForwardButton, Qt::ExtraButton3})
            if (QGuiApplication::mouseButtons() & b)
                QTest::mouseRelease(Main().windowHandle(), b, {}, QPoint(1, 1));
        ASSERT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton);
        OpenStart(MakePicture("big_a.bmp", kW, kH, 1));
        OpenEnd(MakePicture("big_b.bmp", kW, kH, 2));
        ASSERT_TRUE(Dialogs.Messages.empty());
    }
    static constexpr int kW = 1200, kH = 900;
    TPaneViews& Views() { return Main().Views(); }
    QScrollArea* Box(int i) { return Find<QScrollArea>(Main(), i == 0 ? "ScrollBox1" : "ScrollBox2"); }
    TPicturePane* PaneAt(int i) { return i == 0 ? MainImage1() : MainImage2(); }
    // Zooms pane I and scrolls so that picture pixel P is in view.
    void ZoomTo(int i, double zoom, QPoint p)
    {
        Views().ZoomAt(i, zoom, QPointF(0, 0));
        const QPoint w = PaneAt(i)->PictureToWidget(p);
        Box(i)->ensureVisible(w.x(), w.y(), 60, 60);
    }
};

TEST_F(ZoomEditorTest, ALargePictureOpensAtFitInBothPanes)
{
    const double fit = FitZoom(QSize(kW, kH), Box(0)->maximumViewportSize());
    ASSERT_LT(fit, 1.0);
    for (int i : {0, 1}) {
        EXPECT_DOUBLE_EQ(PaneAt(i)->Zoom(), fit);
        EXPECT_LE(PaneAt(i)->width(), Box(i)->viewport()->width());
        EXPECT_LE(PaneAt(i)->height(), Box(i)->viewport()->height());
        EXPECT_EQ(PaneAt(i)->Picture().Width(), kW);  // the grid's raster stays at full size
    }
    Views().UpdateStatus();
    EXPECT_EQ(Views().ZoomLabel->text(), QString("%1 %").arg(std::lround(fit * 100)));
    // Ctrl+0 and Ctrl+9 reach 100 % and fit again.
    Views().Actualsize1->trigger();
    EXPECT_EQ(PaneAt(1)->Zoom(), 1.0);
    EXPECT_EQ(PaneAt(1)->size(), QSize(kW, kH));
    Views().Fittopane1->trigger();
    EXPECT_DOUBLE_EQ(PaneAt(1)->Zoom(), fit);
    // Another picture of the same size replaces the first on screen, also when zoomed out
    // (the pane's shrunk copies follow the picture's change).
    ASSERT_LT(MainImage1()->Zoom(), 0.5);
    const QPoint quarter = MainImage1()->rect().center() / 2;
    MainImage1()->grab();
    {
        TBitmap plain;  // one colour: the shrunk view must show exactly it
        plain.SetPixelFormat(pf24bit);
        plain.SetSize(kW, kH);
        plain.Canvas().Brush.Color = RGBColor(10, 200, 30);
        plain.Canvas().FillRect(Rect(0, 0, kW, kH));
        plain.SaveImageFile(PathOf("big_c.bmp"));
    }
    OpenStart(PathOf("big_c.bmp"));
    ASSERT_DOUBLE_EQ(MainImage1()->Zoom(), fit);
    EXPECT_EQ(MainImage1()->grab().toImage().pixel(quarter), qRgb(10, 200, 30));
    // A small picture opens at 100 %.
    OpenStart(MakePicture("small.bmp", 60, 40, 3));
    EXPECT_EQ(PaneAt(0)->Zoom(), 1.0);
    EXPECT_EQ(PaneAt(1)->Zoom(), 1.0);
}

TEST_F(ZoomEditorTest, PickingAndDraggingLandOnThePicturePixelAtEveryZoom)
{
    const double fit = PaneAt(0)->Zoom();
    const QPoint point(Grid().StartMesh[1][1].X, Grid().StartMesh[1][1].Y);  // (600, 450)
    struct Case {
        double zoom;
        QPoint pressOffset;  // screen pixels from the point's first screen pixel
        QPoint target;       // picture pixel the point is dragged to
        QPoint inPixel;      // screen pixels into the target's square
    } cases[] = {
        {fit, {-3, 2}, {590, 470}, {0, 0}},  // zoomed out: a press 3 screen pixels away picks
        {1, {2, -3}, {607, 441}, {0, 0}},
        {2, {1, 1}, {603, 452}, {1, 1}},
        {8, {7, 0}, {601, 449}, {7, 7}},
        {16, {-30, 40}, {598, 452}, {15, 0}},  // within the grid's three picture pixels
    };
    QPoint at = point;
    for (const Case& c : cases) {
        ZoomTo(0, c.zoom, at);
        TPicturePane* pane = PaneAt(0);
        Press(pane, Qt::LeftButton, pane->PictureToWidget(at) + c.pressOffset);
        EXPECT_EQ(Grid().SelCol, 1) << c.zoom;
        EXPECT_EQ(Grid().SelRow, 1) << c.zoom;
        const QPoint to = pane->PictureToWidget(c.target) + c.inPixel;
        Move(pane, to);
        Release(pane, Qt::LeftButton, to);
        // Zoomed out, a screen pixel shows several picture pixels: the point lands on the
        // first of them.
        const QPoint expected = c.zoom < 1 ? pane->WidgetToPicture(to) : c.target;
        EXPECT_LE(std::abs(expected.x() - c.target.x()), 1 / c.zoom);
        EXPECT_EQ(Grid().StartMesh[1][1], Point(expected.x(), expected.y())) << c.zoom;
        at = expected;
    }
    // The border rules hold when zoomed: a top-edge point only slides along the edge.
    ZoomTo(0, 8, QPoint(600, 0));
    TPicturePane* pane = PaneAt(0);
    Press(pane, Qt::LeftButton, pane->PictureToWidget(QPoint(600, 0)) + QPoint(3, 3));
    ASSERT_EQ(Grid().SelRow, 0);
    const QPoint to = pane->PictureToWidget(QPoint(605, 9));
    Move(pane, to);
    Release(pane, Qt::LeftButton, to);
    EXPECT_EQ(Grid().StartMesh[1][0], Point(605, 0));
    // The status bar shows the selected point on both meshes and the zoom.
    Views().UpdateStatus();
    EXPECT_TRUE(Views().PositionLabel->text().contains("start 605, 0")) << Views().PositionLabel->text().toStdString();
    EXPECT_TRUE(Views().PositionLabel->text().contains("end 600, 0")) << Views().PositionLabel->text().toStdString();
    EXPECT_EQ(Views().ZoomLabel->text(), "800 %");
}

TEST_F(ZoomEditorTest, LinkedPanesKeepTheSameViewAndUnlinkedOnesDoNot)
{
    ASSERT_TRUE(Views().Linkpanes1->isChecked());
    ZoomTo(0, 4, QPoint(900, 700));
    for (int i : {0, 1}) {
        EXPECT_EQ(PaneAt(i)->Zoom(), 4.0);
        EXPECT_GT(Box(i)->horizontalScrollBar()->value(), 0);
    }
    EXPECT_EQ(Box(1)->horizontalScrollBar()->value(), Box(0)->horizontalScrollBar()->value());
    EXPECT_EQ(Box(1)->verticalScrollBar()->value(), Box(0)->verticalScrollBar()->value());
    // Scrolling the end pane scrolls the start pane too.
    Box(1)->verticalScrollBar()->setValue(Box(1)->verticalScrollBar()->value() - 123);
    EXPECT_EQ(Box(0)->verticalScrollBar()->value(), Box(1)->verticalScrollBar()->value());

    Views().Linkpanes1->trigger();
    ASSERT_FALSE(Views().Linked());
    // The end pane is the one in use.
    Move(PaneAt(1), PaneAt(1)->mapFrom(Box(1)->viewport(), Box(1)->viewport()->rect().center()));
    Views().Zoomin1->trigger();
    EXPECT_EQ(PaneAt(1)->Zoom(), 6.0);
    EXPECT_EQ(PaneAt(0)->Zoom(), 4.0);
    Box(1)->horizontalScrollBar()->setValue(50);
    EXPECT_NE(Box(0)->horizontalScrollBar()->value(), 50);
    // Linking again brings the other pane to the one in use.
    Views().Linkpanes1->trigger();
    EXPECT_EQ(PaneAt(0)->Zoom(), 6.0);
    EXPECT_EQ(Box(0)->horizontalScrollBar()->value(), 50);
}

TEST_F(ZoomEditorTest, CtrlWheelZoomsAroundTheCursorAndTheKeysStepTheZoom)
{
    // At 200 % the picture point under the cursor stays under it through each wheel step.
    ZoomTo(0, 2, QPoint(500, 400));
    TPicturePane* pane = PaneAt(0);
    QWidget* viewport = Box(0)->viewport();
    const QPoint cursor = pane->mapTo(viewport, pane->PictureToWidget(QPoint(500, 400)) + QPoint(1, 1));
    for (double expected : {3.0, 4.0, 6.0, 4.0}) {
        const QPointF at = pane->mapFrom(viewport, cursor);
        const QPoint before = pane->WidgetToPicture(at);
        QWheelEvent wheel(at, pane->mapToGlobal(at), QPoint(), QPoint(0, expected > pane->Zoom() ? 120 : -120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane, &wheel);
        EXPECT_EQ(pane->Zoom(), expected);
        EXPECT_EQ(PaneAt(1)->Zoom(), expected);  // linked
        EXPECT_EQ(pane->WidgetToPicture(pane->mapFrom(viewport, cursor)), before) << expected;
    }
    // Without Ctrl the wheel scrolls and leaves the zoom alone.
    const int scrolled = Box(0)->verticalScrollBar()->value();
    QWheelEvent plain(QPointF(5, 5), pane->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &plain);
    EXPECT_EQ(pane->Zoom(), 4.0);
    EXPECT_GT(Box(0)->verticalScrollBar()->value(), scrolled);

    // The menu's keys: Ctrl+0 for 100 %, Ctrl+= and Ctrl+- step, Ctrl+9 fits.
    Main().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Main()));
    struct Key {
        Qt::Key key;
        double zoom;
    } keys[] = {{Qt::Key_0, 1.0}, {Qt::Key_Equal, 1.5}, {Qt::Key_Minus, 1.0}, {Qt::Key_9, 0}};
    for (const Key& k : keys) {
        QTest::keyClick(&Main(), k.key, Qt::ControlModifier);
        const double expected = k.zoom > 0 ? k.zoom : FitZoom(QSize(kW, kH), Box(0)->maximumViewportSize());
        EXPECT_DOUBLE_EQ(PaneAt(0)->Zoom(), expected) << k.key;
    }
}

TEST_F(ZoomEditorTest, ThePreviewStaysWithinTheScreenAndKeepsTheFullPicture)
{
    const QRect available = Preview().screen()->availableGeometry();
    ASSERT_TRUE(available.width() < kW || available.height() < kH) << "the test needs a picture larger than the screen";
    EXPECT_TRUE(available.contains(Preview().frameGeometry())) << Preview().frameGeometry().width();
    EXPECT_LT(PreviewImage()->Zoom(), 1.0);
    // The whole picture is shown, proportions kept.
    const double fitted = PreviewImage()->Zoom();
    EXPECT_TRUE(std::lround(kW * fitted) == PreviewImage()->width() ||
                std::lround(kH * fitted) == PreviewImage()->height());
    // Shown once well below half size (drawn from halved copies) before the new rendering.
    Preview().resize(300, 200 + Find<QFrame>(Preview(), "Panel1")->height() + Find<QWidget>(Preview(), "PnlTiming")->height());
    QCoreApplication::processEvents();
    ASSERT_LT(PreviewImage()->Zoom(), 0.25);
    PreviewImage()->grab();
    Tbpos()->setValue(77);
    EXPECT_EQ(DifferentPixels(*RenderedOnWhite(Grid(), 77), PreviewImage()->Picture()), 0);
    // What the window shows is the new rendering, shrunk: not the white of before.
    const double z = PreviewImage()->Zoom();
    const QImage shot = PreviewImage()->grab().toImage();
    const QPoint middle = PreviewImage()->rect().center();
    const TColor c = PreviewImage()->Picture().PixelColor(int(middle.x() / z), int(middle.y() / z));
    const QRgb seen = shot.pixel(middle);
    EXPECT_NE(seen, qRgb(255, 255, 255));
    EXPECT_NEAR(qRed(seen), GetRValue(c), 40);
    EXPECT_NEAR(qGreen(seen), GetGValue(c), 40);
    const QWidget* controls[] = {SpeedButton1(), Tbpos(), SeDuration()};
    for (const QWidget* w : controls)
        EXPECT_TRUE(Preview().rect().contains(QRect(w->mapTo(&Preview(), QPoint(0, 0)), w->size())))
            << w->objectName().toStdString();
}

}  // namespace qv::test
