#include "app/Editor.h"

#include "app/FAbout.h"
#include "app/FrmMorpherGridEdit.h"
#include "app/FrmPlay.h"
#include "app/Settings.h"

namespace qv {

TEditor::TEditor(IDialogs& dialogs)
{
    FMain = std::make_unique<TFMorpherGridEdit>(dialogs);
    FPlay = std::make_unique<TFPreview>(dialogs);
    FPlay->SetMorphGrid(FMain->MorphGrid.get());
    FMain->SetPreview(FPlay.get());
    FAboutBox = std::make_unique<TFrmAbout>(FMain.get());
    FMain->SetAbout(FAboutBox.get());
    const QIcon icon = ProgramIcon();
    FMain->setWindowIcon(icon);
    FPlay->setWindowIcon(icon);
    // What the last run left: the main window's place and size, the playback duration.
    const auto settings = EditorSettings();
    const QByteArray geometry = settings->value("MainWindow/Geometry").toByteArray();
    if (!geometry.isEmpty())
        FMain->restoreGeometry(geometry);
    bool ok = false;
    const int duration = settings->value("Preview/Duration").toInt(&ok);
    if (ok)
        FPlay->SetDuration(duration);  // the spin edit keeps it within its range
}

TEditor::~TEditor()
{
    const auto settings = EditorSettings();
    settings->setValue("MainWindow/Geometry", FMain->saveGeometry());
    settings->setValue("Preview/Duration", FPlay->Duration());
    FMain->SetAbout(nullptr);
    FAboutBox.reset();
    FMain->SetPreview(nullptr);
    FPlay.reset();
    FMain.reset();
}

void TEditor::Show()
{
    FMain->show();
}

void TEditor::OpenProject(const std::string& fileName)
{
    FMain->OpenProject(fileName);
}

}  // namespace qv
