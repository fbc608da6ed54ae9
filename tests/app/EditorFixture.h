#pragma once
// A started editor driven through the dialog seam, in a private temporary folder.
#include <gtest/gtest.h>

#include <QMenu>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Dialogs.h"
#include "app/Editor.h"
#include "app/FAbout.h"
#include "app/FrmMorpherGridEdit.h"
#include "app/FrmPlay.h"
#include "app/PicturePane.h"
#include "app/ProjectHistory.h"
#include "app/Settings.h"
#include "framework/Graphics.h"
#include "framework/System.h"

namespace qv::test {

std::unique_ptr<TBitmap> RenderedOnWhite(TMorphGrid& grid, int position);
int DifferentPixels(const TBitmap& a, const TBitmap& b);

// Answers the dialogs from a queue and records what the editor asked and showed.
class TFakeDialogs : public IDialogs {
public:
    std::deque<std::optional<std::string>> Answers;  // nullopt = the user cancels
    std::vector<std::string> Asked;                   // names of the dialogs run, in order
    std::vector<TFileDialog> Runs;                    // the dialogs as they were run
    std::vector<std::string> Messages;                // texts of the message boxes
    std::vector<std::string> Questions;
    bool QuestionAnswer = true;

    std::optional<std::string> RunFileDialog(const TFileDialog& dialog) override
    {
        Asked.push_back(dialog.Name);
        Runs.push_back(dialog);
        if (Answers.empty()) {
            ADD_FAILURE() << "unexpected dialog " << dialog.Name;
            return std::nullopt;
        }
        auto answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    void ShowMessage(const std::string& text) override { Messages.push_back(text); }
    bool AskOkCancel(const std::string& text) override
    {
        Questions.push_back(text);
        return QuestionAnswer;
    }
    std::deque<TSaveAnswer> SaveAnswers;  // answers to "Save changes to NAME?"
    std::vector<std::string> SavePrompts; // the NAMEs asked about
    TSaveAnswer AskSaveChanges(const std::string& name) override
    {
        SavePrompts.push_back(name);
        if (SaveAnswers.empty()) {
            ADD_FAILURE() << "unexpected save question for " << name;
            return TSaveAnswer::Cancel;
        }
        const TSaveAnswer answer = SaveAnswers.front();
        SaveAnswers.pop_front();
        return answer;
    }
};

// A component of a window under its object name; a missing one fails the test.
template <class T>
T* Find(const QObject& window, const char* name)
{
    T* found = window.findChild<T*>(name);
    if (!found)
        ADD_FAILURE() << "no component " << name;
    return found;
}
// Picture panes are found as widgets (the class has no meta-object of its own).
inline TPicturePane* FindPane(const QObject& window, const char* name)
{
    return static_cast<TPicturePane*>(Find<QWidget>(window, name));
}

// The dialogs of the application object's own last-resort guard.
inline TFakeDialogs& AppDialogs()
{
    static TFakeDialogs dialogs;
    return dialogs;
}

// A new, empty folder of its own under the system's temporary folder.
inline std::string UniqueTempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "qv_app_XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

// Fills a picture with a smooth pattern that differs per seed, so pictures can be told apart.
inline void PaintPattern(TBitmap& bmp, int width, int height, int seed)
{
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bmp.SetPixelColor(x, y, RGBColor(uint8_t(x * 7 + seed * 50), uint8_t(y * 5 + seed * 20),
                                             uint8_t((x + y) * 3 + seed * 90)));
}

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EditorSettings()->clear();  // the test run's own settings folder; every test starts afresh
        FOldDir = GetCurrentDir();
        Dir = UniqueTempDir();
        Editor = std::make_unique<TEditor>(Dialogs);
        Main().OnTerminate = [this] { ++Terminations; };
        Editor->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Main()));
    }

    void TearDown() override
    {
        if (PopupMenu()->isVisible())
            PopupMenu()->hide();
        Editor.reset();
        SetCurrentDir(FOldDir);
        std::error_code ignored;
        std::filesystem::remove_all(Dir, ignored);
    }

    TFMorpherGridEdit& Main() { return Editor->FMorpherGridEdit(); }
    QAction* Act(const char* name) { return Find<QAction>(Main(), name); }
    TPicturePane* MainImage1() { return FindPane(Main(), "Image1"); }
    TPicturePane* MainImage2() { return FindPane(Main(), "Image2"); }
    QMenu* PopupMenu() { return Find<QMenu>(Main(), "PopupMenu"); }
    TPicturePane* PreviewImage() { return FindPane(Preview(), "Image1"); }
    QSlider* Tbpos() { return Find<QSlider>(Preview(), "Tbpos"); }
    QSpinBox* SeDuration() { return Find<QSpinBox>(Preview(), "SeDuration"); }
    QToolButton* SpeedButton1() { return Find<QToolButton>(Preview(), "SpeedButton1"); }
    TFPreview& Preview() { return Editor->FPreview(); }
    TMorphGrid& Grid() { return *Main().MorphGrid; }

    std::string PathOf(const std::string& name) const { return (std::filesystem::path(Dir) / name).string(); }

    // Writes a Windows bitmap with the pattern of the seed and returns its path.
    std::string MakePicture(const std::string& name, int width, int height, int seed)
    {
        TBitmap bmp;
        PaintPattern(bmp, width, height, seed);
        const std::string path = PathOf(name);
        bmp.SaveImageFile(path);
        return path;
    }

    void OpenStart(const std::string& path)
    {
        Dialogs.Answers.push_back(path);
        Act("Openstartpicture1")->trigger();
    }
    void OpenEnd(const std::string& path)
    {
        Dialogs.Answers.push_back(path);
        Act("Openendpicture1")->trigger();
    }

    // Mouse events through the window, as the window system delivers them: Qt's implicit
    // grab decides which pane gets moves and releases.
    QPoint InWindow(TPicturePane* pane, QPoint p) { return pane->mapTo(pane->window(), p); }
    void Press(TPicturePane* pane, Qt::MouseButton b, QPoint p)
    {
        QTest::mousePress(pane->window()->windowHandle(), b, {}, InWindow(pane, p));
    }
    void Move(TPicturePane* pane, QPoint p)
    {
        QTest::mouseMove(pane->window()->windowHandle(), InWindow(pane, p));
    }
    void Release(TPicturePane* pane, Qt::MouseButton b, QPoint p)
    {
        QTest::mouseRelease(pane->window()->windowHandle(), b, {}, InWindow(pane, p));
    }

    // A right-button press on a pane, delivered to the pane itself. Whether the popup
    // opened is kept in PopupShown; the popup is closed again (its item states stay) so
    // that later mouse events are not taken by it.
    void RightPress(TPicturePane* pane, QPoint p)
    {
        QTest::mousePress(pane, Qt::RightButton, {}, p);
        PopupShown = PopupMenu()->isVisible();
        PopupMenu()->hide();
        QTest::mouseRelease(pane, Qt::RightButton, {}, p);
    }
    bool PopupShown = false;

    // Lays the grid out as cols x rows, as one undoable step.
    void SetGridSize(int cols, int rows)
    {
        Main().ChangeProject("Grid size", [&] { Grid().SetGridSize(Point(cols, rows)); });
    }
    // Paints the preview black, so that a test sees whether something rendered it again.
    void BlackenPreview()
    {
        TBitmap& shown = PreviewImage()->Picture();
        shown.Canvas().Brush.Color = clBlack;
        shown.Canvas().FillRect(Rect(0, 0, shown.Width(), shown.Height()));
    }
    // The preview shows the morph at the slider's position.
    bool PreviewShowsSlider()
    {
        return DifferentPixels(*RenderedOnWhite(Grid(), Tbpos()->value()), PreviewImage()->Picture()) == 0;
    }

    // The preview holds the in-between picture at its full size and shows all of it at
    // 100 % (the window is at least wide enough for its controls).
    void ExpectPreviewShowsWholeAt100(int width, int height)
    {
        EXPECT_EQ(PreviewImage()->Picture().Width(), width);
        EXPECT_EQ(PreviewImage()->Picture().Height(), height);
        EXPECT_EQ(PreviewImage()->Zoom(), 1.0);
        EXPECT_EQ(PreviewImage()->height(), height);
        EXPECT_GE(PreviewImage()->width(), width);
    }

    TFakeDialogs Dialogs;
    std::unique_ptr<TEditor> Editor;
    std::string Dir;
    int Terminations = 0;

private:
    std::string FOldDir;
};

// The morph at a position over a white picture of the picture size, as the preview shows it
// right after a resize and a render.
inline std::unique_ptr<TBitmap> RenderedOnWhite(TMorphGrid& grid, int position)
{
    auto b = std::make_unique<TBitmap>();
    b->SetPixelFormat(pf32bit);
    b->SetSize(grid.PictureWidth, grid.PictureHeight);
    b->Canvas().Brush.Color = clWhite;
    b->Canvas().FillRect(Rect(0, 0, b->Width(), b->Height()));
    grid.RenderMorph(*b, position);
    return b;
}

inline bool AllPixels(const TBitmap& bmp, TColor color)
{
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x)
            if (bmp.PixelColor(x, y) != color)
                return false;
    return true;
}

// Number of pixels in which two pictures of the same size differ (-1 when the sizes differ).
inline int DifferentPixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return -1;
    int n = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            n += (a.PixelColor(x, y) & 0xFFFFFF) != (b.PixelColor(x, y) & 0xFFFFFF);
    return n;
}

}  // namespace qv::test
