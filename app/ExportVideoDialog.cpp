#include "app/ExportVideoDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>

#include "app/Dialogs.h"
#include "app/QtOwn.h"
#include "framework/System.h"

namespace qv {

namespace {

struct TFormatEntry {
    TVideoFormat Format;
    const char* Label;
    const char* Filter;
    const char* Ext;
};
constexpr TFormatEntry kFormats[] = {
    {TVideoFormat::Mp4, "MP4 (H.264)", "MP4 video|*.mp4", "*.mp4"},
    {TVideoFormat::WebM, "WebM (VP9)", "WebM video|*.webm", "*.webm"},
    {TVideoFormat::Gif, "Animated GIF", "Animated GIF|*.gif", "*.gif"},
    {TVideoFormat::Avi, "AVI (uncompressed)", "Avi file|*.avi", "*.avi"},
};

const TFormatEntry& EntryOf(TVideoFormat format)
{
    for (const TFormatEntry& e : kFormats)
        if (e.Format == format)
            return e;
    return kFormats[0];
}

}  // namespace

TExportVideoDialog::TExportVideoDialog(QWidget* parent, IDialogs& dialogs) : QDialog(parent), FDialogs(dialogs)
{
    setObjectName("ExportVideoDialog");
    setWindowTitle("Export video");
    auto* form = Own<QFormLayout>(this);

    CbFormat = Own<QComboBox>(this);
    CbFormat->setObjectName("CbFormat");
    for (const TFormatEntry& e : kFormats)
        CbFormat->addItem(e.Label);
    form->addRow("Format:", CbFormat);

    SeDuration = Own<QSpinBox>(this);
    SeDuration->setObjectName("SeDuration");
    SeDuration->setRange(1, kMaxVideoDurationMs);
    SeDuration->setSuffix(" ms");
    SeDuration->setValue(3000);
    form->addRow("Duration:", SeDuration);

    SeFps = Own<QSpinBox>(this);
    SeFps->setObjectName("SeFps");
    SeFps->setRange(1, kMaxVideoFps);
    SeFps->setValue(25);
    SeFps->setSuffix(" frames per second");
    form->addRow("Frame rate:", SeFps);

    SeQuality = Own<QSpinBox>(this);
    SeQuality->setObjectName("SeQuality");
    SeQuality->setToolTip("Constant rate factor: lower is better and bigger");
    form->addRow("Quality:", SeQuality);

    CbPingPong = Own<QCheckBox>("Back to the start picture (for loops)", this);
    CbPingPong->setObjectName("CbPingPong");
    form->addRow("Ping-pong:", CbPingPong);
    CbSmooth = Own<QCheckBox>("Smooth sampling (no stair steps, no shimmer)", this);
    CbSmooth->setObjectName("CbSmooth");
    form->addRow("Sampling:", CbSmooth);

    auto* soundRow = Own<QHBoxLayout>();
    EdSound = Own<QLineEdit>(this);
    EdSound->setObjectName("EdSound");
    EdSound->setPlaceholderText("none");
    BtnSound = Own<QPushButton>("Choose...", this);
    BtnSound->setObjectName("BtnSound");
    soundRow->addWidget(EdSound, 1);
    soundRow->addWidget(BtnSound);
    form->addRow("Sound (WAV):", soundRow);

    auto* buttons = Own<QDialogButtonBox>(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName("Buttons");
    form->addRow(buttons);

    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    QObject::connect(CbFormat, &QComboBox::currentIndexChanged, this, [this](int) { FormatChange(); });
    QObject::connect(BtnSound, &QPushButton::clicked, this, [this] { ChooseSound(); });
    TVideoSettings initial;
    initial.Render.Smooth = true;  // what a shared movie should look like
    SetChoice(TVideoFormat::Mp4, initial);
}

void TExportVideoDialog::SetChoice(TVideoFormat format, const TVideoSettings& settings)
{
    int index = 0;
    for (int k = 0; k < int(std::size(kFormats)); ++k)
        if (kFormats[k].Format == format)
            index = k;
    CbFormat->setCurrentIndex(index);
    FormatChange();
    SeDuration->setValue(settings.DurationMs);
    SeFps->setValue(settings.Fps);
    if (settings.Quality >= 0)
        SeQuality->setValue(settings.Quality);
    CbPingPong->setChecked(settings.PingPong);
    CbSmooth->setChecked(settings.Render.Smooth);
    EdSound->setText(QString::fromLocal8Bit(settings.WavFileName.c_str()));
}

TVideoFormat TExportVideoDialog::Format() const
{
    return kFormats[std::max(0, CbFormat->currentIndex())].Format;
}

TVideoSettings TExportVideoDialog::Settings() const
{
    TVideoSettings s;
    s.DurationMs = SeDuration->value();
    s.Fps = SeFps->value();
    s.Quality = SeQuality->isEnabled() ? SeQuality->value() : -1;
    s.PingPong = CbPingPong->isChecked();
    s.Render.Smooth = CbSmooth->isChecked();
    if (EdSound->isEnabled())
        s.WavFileName = EdSound->text().trimmed().toLocal8Bit().toStdString();
    return s;
}

void TExportVideoDialog::FormatChange()
{
    // Each format has its own quality scale (or none), and GIF has no sound.
    int32_t min = 0, max = 0, byDefault = 0;
    QualityRange(Format(), min, max, byDefault);
    SeQuality->setEnabled(max >= 0);
    if (max >= 0) {
        SeQuality->setRange(min, max);
        SeQuality->setValue(byDefault);
    }
    const bool sound = Format() != TVideoFormat::Gif;
    EdSound->setEnabled(sound);
    BtnSound->setEnabled(sound);
}

void TExportVideoDialog::ChooseSound()
{
    TFileDialog dialog{"OpenSoundDialog", TFileDialogKind::OpenFile, "WAV sound|*.wav", "*.wav",
                       EdSound->text().toLocal8Bit().toStdString()};
    if (auto chosen = FDialogs.RunFileDialog(dialog); chosen && !chosen->empty())
        EdSound->setText(QString::fromLocal8Bit(ExpandFileName(*chosen).c_str()));
}

bool ExportVideoWithProgress(QWidget* parent, TMorphGrid& grid, const TVideoSettings& settings,
                             const std::string& fileName)
{
    QProgressDialog progress("Exporting " + QString::fromLocal8Bit(ExtractFileName(fileName).c_str()) + "...",
                             "Cancel", 0, 1, parent);
    progress.setObjectName("ExportProgress");
    progress.setWindowTitle("Export video");
    // Modal: nothing else in the editor changes the project while its frames are made.
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setValue(0);
    // The progress call comes between frames, while no frame is being rendered: events
    // handled here (a repaint, the Cancel button) cannot meet a render of the project.
    const bool done = ExportVideo(grid, settings, fileName, [&progress](int32_t frame, int32_t count) {
        progress.setMaximum(count);
        progress.setValue(frame);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    return done;
}

void ExportVideoCommand(QWidget* parent, TMorphGrid& grid, IDialogs& dialogs, int durationMs,
                        const TMorphTiming& timing)
{
    // The choices of the last export in this session, else the preview's duration.
    static bool chosenBefore = false;
    static TVideoFormat lastFormat = TVideoFormat::Mp4;
    static TVideoSettings lastSettings;
    static TFileDialog saveDialog{"SaveVideoDialog", TFileDialogKind::SaveFile, "", "", ""};
    if (!chosenBefore) {
        lastSettings.DurationMs = durationMs;
        lastSettings.Render.Smooth = true;
    }

    TExportVideoDialog dialog(parent, dialogs);
    dialog.SetChoice(lastFormat, lastSettings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    chosenBefore = true;
    lastFormat = dialog.Format();
    lastSettings = dialog.Settings();
    lastSettings.Render.Timing = timing;  // the preview's, as the project has it
    // Settings and sound are checked before the user picks a file name.
    CheckVideoSettings(lastFormat, lastSettings);

    const TFormatEntry& entry = EntryOf(lastFormat);
    saveDialog.Filter = entry.Filter;
    saveDialog.DefaultExt = entry.Ext;
    // The last name, with the extension of the format chosen now.
    saveDialog.FileName = saveDialog.FileName.empty() ? std::string(entry.Ext)
                                                      : ChangeFileExt(saveDialog.FileName, entry.Ext + 1);
    if (!Execute(saveDialog, dialogs))
        return;
    std::string fileName = saveDialog.FileName;
    if (ExtractFileExt(fileName).empty())
        fileName += entry.Ext + 1;
    ExportVideoWithProgress(parent, grid, lastSettings, ExpandFileName(fileName));
}

}  // namespace qv
