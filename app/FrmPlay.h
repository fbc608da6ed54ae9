#pragma once
// The preview window FPreview: the in-between picture at the slider's position, and playback
// of the whole transition over the chosen duration.
#include <QWidget>

class QFrame;
class QLabel;
class QSlider;
class QSpinBox;
class QToolButton;

namespace qv {

class IDialogs;
class TMorphGrid;
class TPicturePane;

class TFPreview : public QWidget {
public:
    explicit TFPreview(IDialogs& dialogs);
    ~TFPreview() override;

    // The grid the window renders: the main window's, set once at start-up.
    void SetMorphGrid(TMorphGrid* grid) { FGrid = grid; }

    // Makes the in-between picture width x height (white when its size changes) and sizes
    // the window to show it at 100 %, or shrunk to fit the available screen area when it is
    // larger, keeping the panel's controls visible and the window on the screen.
    void FitPictureArea(int width, int height);

    // Handlers (each runs inside the error guard when Qt calls it).
    // The window changed size: the picture keeps its size and is shown scaled to fit.
    void FormResize();
    void TbposChange();
    void SpeedButton1Click();

    // Components, under their object names.
    TPicturePane* Image1 = nullptr;
    QFrame* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QLabel* Label2 = nullptr;
    QSlider* Tbpos = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* SeDuration = nullptr;

    // Frames drawn by the last playback (how many passes the loop made); for the curious
    // and for tests.
    int LastPlayFrames() const { return FLastPlayFrames; }
    // Position of the last frame of the last playback.
    int LastPlayPosition() const { return FLastPlayPosition; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlacePanelControls();
    // Lays the children out for the current size now, shown or not, and runs FormResize
    // when the window's size differs from the one it last ran for.
    void SizeChanged();

    IDialogs& FDialogs;
    TMorphGrid* FGrid = nullptr;
    int FLastPlayFrames = 0;
    int FLastPlayPosition = -1;
    QSize FFormSize;  // the window size FormResize last ran for
};

// The play loop's position for an elapsed time and a duration: E x 255 / D truncated, at
// most 255. Computed in 64 bits: with 32-bit wrap-around an event that held the loop for
// hours would make the closing frame land short of the end.
int PlayPosition(uint32_t elapsedMs, int durationMs);

}  // namespace qv
