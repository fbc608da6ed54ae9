// The pieces under the windows: picture pane, conversions, dialog filters, error guard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <fstream>
#include <new>

#include "app/Dialogs.h"
#include "app/ErrorGuard.h"
#include "app/PicturePane.h"
#include "app/QtDialogs.h"
#include "framework/Exceptions.h"
#include "framework/System.h"
#include "EditorFixture.h"

namespace qv::test {

TEST(PictureImageTest, ConvertsEveryFormatToOpaqueColours)
{
    for (TPixelFormat pf : {pf32bit, pf24bit, pf16bit, pf8bit, pfDevice}) {
        TBitmap b;
        b.SetPixelFormat(pf);
        if (pf == pf8bit) {  // the default 8-bit palette is grey: give it the colours used
            TLogPalette palette;
            palette.Entries = {{0, 0, 0, 0}, {255, 0, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}};
            b.SetPalette(palette);
        }
        b.SetSize(5, 3);
        b.SetPixelColor(1, 2, RGBColor(255, 0, 0));
        b.SetPixelColor(4, 0, RGBColor(0, 0, 255));
        const QImage image = ToQImage(b);
        ASSERT_EQ(image.size(), QSize(5, 3)) << PixelFormatName(pf);
        EXPECT_EQ(image.pixel(1, 2), qRgb(255, 0, 0)) << PixelFormatName(pf);
        EXPECT_EQ(image.pixel(4, 0), qRgb(0, 0, 255)) << PixelFormatName(pf);
        EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255)) << PixelFormatName(pf);
        EXPECT_EQ(qAlpha(image.pixel(2, 1)), 255);
    }
}

TEST(PictureImageTest, PartialAreaIsClippedToThePicture)
{
    TBitmap b;
    b.SetPixelFormat(pf32bit);
    b.SetSize(4, 4);
    b.SetPixelColor(3, 3, RGBColor(1, 2, 3));
    const QImage part = ToQImage(b, QRect(2, 2, 10, 10));
    ASSERT_EQ(part.size(), QSize(2, 2));
    EXPECT_EQ(part.pixel(1, 1), qRgb(1, 2, 3));
    EXPECT_TRUE(ToQImage(b, QRect(-5, -5, 3, 3)).isNull());
    TBitmap empty;
    EXPECT_TRUE(ToQImage(empty).isNull());
}

TEST(PicturePaneTest, PaintsThePictureOneToOneAndRepaintsOnChange)
{
    TPicturePane pane;
    pane.SetControlSize(30, 20);
    pane.Picture().SetPixelFormat(pf32bit);
    pane.Picture().SetSize(20, 10);  // smaller than the control: no stretching
    pane.Picture().Canvas().Brush.Color = RGBColor(0, 0, 200);
    pane.Picture().Canvas().FillRect(Rect(0, 0, 20, 10));
    pane.Picture().SetPixelColor(19, 9, RGBColor(250, 10, 20));
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    QImage shot = pane.grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0), qRgb(0, 0, 200));
    EXPECT_EQ(shot.pixel(19, 9), qRgb(250, 10, 20));
    EXPECT_NE(shot.pixel(25, 15), qRgb(0, 0, 200));  // beyond the picture: background

    // Drawing on the picture marks it changed; the pane shows the new pixels.
    pane.Picture().Canvas().Brush.Color = RGBColor(0, 255, 0);
    pane.Picture().Canvas().FillRect(Rect(0, 0, 5, 5));
    shot = pane.grab().toImage();
    EXPECT_EQ(shot.pixel(2, 2), qRgb(0, 255, 0));
}

TEST(PicturePaneTest, ForwardsButtonsShiftStateAndCoordinates)
{
    TPicturePane pane;
    pane.SetControlSize(50, 50);
    struct Call { char kind; TMouseButton button; TShiftState shift; int x, y; };
    std::vector<Call> calls;
    pane.OnMouseDown = [&](TMouseButton b, TShiftState s, int x, int y) { calls.push_back({'d', b, s, x, y}); };
    pane.OnMouseMove = [&](TShiftState s, int x, int y) { calls.push_back({'m', TMouseButton::mbLeft, s, x, y}); };
    pane.OnMouseUp = [&](TMouseButton b, TShiftState s, int x, int y) { calls.push_back({'u', b, s, x, y}); };
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));

    QTest::mousePress(&pane, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 12));
    QTest::mouseMove(&pane, QPoint(-5, 70));
    QTest::mouseRelease(&pane, Qt::LeftButton, Qt::ShiftModifier, QPoint(-5, 70));
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, 'd');
    EXPECT_EQ(calls[0].button, TMouseButton::mbLeft);
    EXPECT_EQ(calls[0].shift, (TShiftState{ssShift, ssLeft}));
    EXPECT_EQ(calls[0].x, 10);
    EXPECT_EQ(calls[0].y, 12);
    EXPECT_EQ(calls[1].kind, 'm');
    EXPECT_TRUE(calls[1].shift.contains(ssLeft));
    EXPECT_EQ(calls[1].x, -5);
    EXPECT_EQ(calls[1].y, 70);
    // In a release the released button is no longer held.
    EXPECT_EQ(calls[2].kind, 'u');
    EXPECT_EQ(calls[2].button, TMouseButton::mbLeft);
    EXPECT_EQ(calls[2].shift, (TShiftState{ssShift}));

    // Buttons beyond left, right and middle reach no handler at all.
    calls.clear();
    for (Qt::MouseButton side : {Qt::BackButton, Qt::ForwardButton, Qt::ExtraButton3}) {
        QTest::mousePress(&pane, side, {}, QPoint(5, 5));
        QTest::mouseRelease(&pane, side, {}, QPoint(5, 5));
        QTest::mouseDClick(&pane, side, {}, QPoint(5, 5));
    }
    EXPECT_TRUE(calls.empty()) << calls.size();
    EXPECT_FALSE(IsPaneButton(Qt::BackButton));
    EXPECT_TRUE(IsPaneButton(Qt::MiddleButton));
}

TEST(PicturePaneTest, ShiftStateMapping)
{
    EXPECT_EQ(ShiftStateOf(Qt::LeftButton | Qt::RightButton, Qt::ControlModifier | Qt::AltModifier),
              (TShiftState{ssLeft, ssRight, ssCtrl, ssAlt}));
    EXPECT_EQ(ShiftStateOf(Qt::MiddleButton, Qt::NoModifier), (TShiftState{ssMiddle}));
    EXPECT_TRUE(ShiftStateOf(Qt::NoButton, Qt::NoModifier).empty());
    EXPECT_EQ(MouseButtonOf(Qt::RightButton), TMouseButton::mbRight);
    EXPECT_EQ(MouseButtonOf(Qt::MiddleButton), TMouseButton::mbMiddle);
    EXPECT_EQ(MouseButtonOf(Qt::LeftButton), TMouseButton::mbLeft);
}

TEST(QtDialogsTest, FiltersBecomeQtNameFilters)
{
    EXPECT_EQ(QtNameFilters("Morphing Grid|*.grid"), QStringList{"Morphing Grid (*.grid)"});
    EXPECT_EQ(QtNameFilters("Avi file|*.avi"), QStringList{"Avi file (*.avi)"});
    EXPECT_EQ(QtNameFilters("Tous (*.tga;*.bmp)|*.tga;*.bmp|Truevision (*.tga)|*.tga"),
              (QStringList{"Tous (*.tga *.bmp)", "Truevision (*.tga)"}));
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_TRUE(QtNameFilters("dangling").isEmpty());
    EXPECT_EQ(QtDefaultSuffix("*.grid"), "grid");
    EXPECT_EQ(QtDefaultSuffix(".avi"), "avi");
    EXPECT_EQ(QtDefaultSuffix(""), "");
}

TEST(QtDialogsTest, PicturePreviewShowsReadablePicturesAndNamesBadOnes)
{
    const std::string dir = UniqueTempDir();
    TBitmap b;
    PaintPattern(b, 300, 100, 1);
    b.SaveImageFile(dir + "/wide.bmp");
    {
        std::ofstream(dir + "/broken.bmp") << "BMnonsense";
    }
    TPicturePreview preview;
    preview.ShowFile(QString::fromStdString(dir + "/wide.bmp"));
    EXPECT_TRUE(preview.HasPicture());
    EXPECT_EQ(preview.Caption(), "300 x 100");
    preview.ShowFile(QString::fromStdString(dir + "/broken.bmp"));
    EXPECT_FALSE(preview.HasPicture());
    EXPECT_TRUE(preview.Caption().startsWith("No preview"));
    preview.ShowFile(QString::fromStdString(dir));  // a folder: nothing to show
    EXPECT_FALSE(preview.HasPicture());
    EXPECT_TRUE(preview.Caption().isEmpty());
    std::filesystem::remove_all(dir);
}

TEST(ErrorGuardTest, ShowsTheMessageAndReturns)
{
    TFakeDialogs dialogs;
    bool after = false;
    Guarded(dialogs, [] { throw EInvalidGraphic("Targa: invalid image"); });
    Guarded(dialogs, [] { throw std::bad_alloc(); });
    Guarded(dialogs, [] { throw 42; });
    Guarded(dialogs, [&] { after = true; });
    EXPECT_TRUE(after);
    EXPECT_EQ(dialogs.Messages, (std::vector<std::string>{"Targa: invalid image", "Not enough memory for this operation.",
                                                          "Unknown error."}));
}

TEST(DialogSeamTest, ChoosingAFileMovesIntoItsFolderAndIsRemembered)
{
    const std::string old = GetCurrentDir();
    const std::string dir = UniqueTempDir();
    TFakeDialogs dialogs;
    TFileDialog dialog{"OpenDialog1", TFileDialogKind::OpenFile, "Morphing Grid|*.grid", "*.grid", "*.grid"};
    dialogs.Answers.push_back(std::nullopt);
    EXPECT_FALSE(Execute(dialog, dialogs));
    EXPECT_EQ(dialog.FileName, "*.grid");
    EXPECT_EQ(GetCurrentDir(), old);
    dialogs.Answers.push_back(dir + "/x.grid");  // need not exist
    EXPECT_TRUE(Execute(dialog, dialogs));
    EXPECT_EQ(dialog.FileName, dir + "/x.grid");
    EXPECT_EQ(std::filesystem::canonical(GetCurrentDir()), std::filesystem::canonical(dir));
    SetCurrentDir(old);
    std::filesystem::remove_all(dir);
}

}  // namespace qv::test
