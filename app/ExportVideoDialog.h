#pragma once
// File > Export video...: the settings dialog (format, duration, frame rate, quality,
// ping-pong, sound file), the save dialog for the movie, and the export itself under a
// progress dialog whose Cancel stops it within a frame.
#include <QDialog>
#include <string>

#include "video/VideoExport.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace qv {

class IDialogs;
class TMorphGrid;

class TExportVideoDialog : public QDialog {
public:
    TExportVideoDialog(QWidget* parent, IDialogs& dialogs);

    // Fills the controls; the quality shows the format's default when settings has none.
    void SetChoice(TVideoFormat format, const TVideoSettings& settings);
    TVideoFormat Format() const;
    TVideoSettings Settings() const;

    // Components, under their object names.
    QComboBox* CbFormat = nullptr;
    QSpinBox* SeDuration = nullptr;
    QSpinBox* SeFps = nullptr;
    QSpinBox* SeQuality = nullptr;
    QCheckBox* CbPingPong = nullptr;
    QCheckBox* CbSmooth = nullptr;  // on by default
    QLineEdit* EdSound = nullptr;
    QPushButton* BtnSound = nullptr;

private:
    void FormatChange();
    void ChooseSound();

    IDialogs& FDialogs;
};

// Writes the movie with a progress dialog (Cancel stops it; nothing is left behind then).
// Returns false when the user cancelled.
bool ExportVideoWithProgress(QWidget* parent, TMorphGrid& grid, const TVideoSettings& settings,
                             const std::string& fileName);

// The whole command: settings dialog, save dialog, export. The duration starts at
// durationMs (the preview's) the first time; later runs start from the last choices.
// The frames follow timing, as the preview does.
void ExportVideoCommand(QWidget* parent, TMorphGrid& grid, IDialogs& dialogs, int durationMs,
                        const TMorphTiming& timing = {});

}  // namespace qv
