#include "app/Editor.h"

#include "app/FAbout.h"
#include "app/FrmMorpherGridEdit.h"
#include "app/FrmPlay.h"

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
}

TEditor::~TEditor()
{
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

}  // namespace qv
