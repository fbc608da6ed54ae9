#include "app/MovieExport.h"

#include <QApplication>
#include <QStatusBar>

#include "app/FrmMorpherGridEdit.h"
#include "app/FrmPlay.h"
#include "video/FramePlan.h"

namespace qv {

namespace {

// The hourglass for the whole command, back to normal however it ends.
struct TBusyCursor {
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// The frame count in the status bar while the frames are made; the bar's own text returns
// afterwards, also on failure.
class TProgressText {
public:
    explicit TProgressText(QStatusBar& bar) : FBar(bar) {}
    ~TProgressText() { FBar.clearMessage(); }
    TProgressText(const TProgressText&) = delete;
    TProgressText& operator=(const TProgressText&) = delete;
    void Show(int frame, int count)
    {
        FBar.showMessage(QString("Frame %1 of %2").arg(frame).arg(count));
        FBar.repaint();  // no events are processed during the export: paint now
    }

private:
    QStatusBar& FBar;
};

}  // namespace

void SaveAsAvi(TFMorpherGridEdit& mainWindow, TFPreview& preview, const std::string& fileName)
{
    TBusyCursor busy;
    // The closed file dialog leaves a hole in the windows below it, and no events are
    // processed until the export ends: paint both windows whole now.
    mainWindow.repaint();
    preview.repaint();
    preview.Stop();
    TProgressText progress(*mainWindow.statusBar());
    const int32_t duration = preview.Duration();  // read once
    const TFramePlan plan = MakeFramePlan(duration);
    // The batch tool's export makes and writes the frames; the preview follows each frame
    // with its slider and picture, as the user watches the transition being exported.
    ExportMovie(*mainWindow.MorphGrid, duration, fileName, std::string(), [&](int32_t frame, int32_t count) {
        preview.ShowPosition(plan.Position(frame - 1));
        progress.Show(frame, count);
    }, preview.RenderOptions());
}

}  // namespace qv
