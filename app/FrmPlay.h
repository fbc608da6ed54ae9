#pragma once
// The preview window FPreview: the in-between picture at the slider's position, and playback
// of the whole transition over the chosen duration.
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>

#include "morph/MorphTiming.h"

class QFrame;
class QLabel;
class QSlider;
class QSpinBox;
class QTimer;
class QToolButton;

namespace qv {

class IDialogs;
class TBitmap;
class TMorphGrid;
class TPicturePane;
class TTimingPanel;

class TFPreview : public QWidget {
public:
    explicit TFPreview(IDialogs& dialogs);
    ~TFPreview() override;

    // The grid the window renders: the main window's, set once at start-up.
    void SetMorphGrid(TMorphGrid* grid) { FGrid = grid; }

    // Makes the in-between picture width x height, white, and sizes the window to show it
    // at 100 %, or shrunk to fit the available screen area when it is larger, keeping the
    // panel's controls visible and the window on the screen. Nothing changes when the
    // picture has that size already (the window keeps the size the user gave it).
    void FitPictureArea(int width, int height);

    // The slider's position (0 .. 255) and the picture shown for it. ShowPosition moves
    // the slider there and renders the grid at that position.
    int Position() const;
    void ShowPosition(int position);
    // Renders the grid again at the slider's position (after the grid changed).
    void Rerender() { ShowPosition(Position()); }
    const TBitmap& Picture() const;
    // Sampling and timing of every picture the window shows (from View › Smooth preview,
    // the project's timing file and the Timing panel); a change renders the picture again.
    void SetSmooth(bool smooth);
    void SetTiming(const TMorphTiming& timing, const std::string& note = std::string());
    const TRenderOptions& RenderOptions() const { return FOptions; }
    TTimingPanel& TimingPanel() const { return *PnlTiming; }
    // Called after the user changed the timing in the panel.
    std::function<void()> OnTimingChange;
    // The playback duration in milliseconds.
    int Duration() const;
    void SetDuration(int milliseconds);

    // Playback runs on a timer: the slider follows the animation, and a stop (the button,
    // Esc, Space, touching the slider, or the end) leaves slider and picture agreeing.
    void Play();
    void Stop();
    bool IsPlaying() const;
    // One frame of playback at the time the clock gives; the timer calls it.
    void AdvancePlayback();
    // Milliseconds of a steadily rising counter; tests set their own clock.
    std::function<uint32_t()> Clock;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PlacePanelControls();
    // Lays the children out for the current size now, shown or not, and runs FormResize
    // when the window's size differs from the one it last ran for.
    void SizeChanged();
    // Handlers (each runs inside the error guard when Qt calls it).
    // The window changed size: the picture keeps its size and is shown scaled to fit.
    void FormResize();
    void TbposChange();
    void SpeedButton1Click();

    TPicturePane* Image1 = nullptr;
    QFrame* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QLabel* Label2 = nullptr;
    QSlider* Tbpos = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* SeDuration = nullptr;
    QTimer* FPlayTimer = nullptr;
    TTimingPanel* PnlTiming = nullptr;
    TRenderOptions FOptions;

    IDialogs& FDialogs;
    TMorphGrid* FGrid = nullptr;
    uint32_t FPlayStart = 0;
    QSize FFormSize;  // the window size FormResize last ran for
};

// The playback position for an elapsed time and a duration: E x 255 / D truncated, at
// most 255. Computed in 64 bits: with 32-bit wrap-around a playback held up for hours (a
// modal box left open) would land short of the end.
int PlayPosition(uint32_t elapsedMs, int durationMs);

}  // namespace qv
