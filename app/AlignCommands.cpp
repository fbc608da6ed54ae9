#include "app/AlignCommands.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>

#include "app/ErrorGuard.h"
#include "app/FrmMorpherGridEdit.h"

namespace qv {

namespace {

class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// One step of the history; the status bar says what was done and what was noticed.
void Apply(TFMorpherGridEdit& Form, const TGridProposal& Proposal, const QString& Step, const std::string& Done) {
    Form.ChangeProject(Step, [&] { ApplyProposal(*Form.MorphGrid, Proposal); });
    std::string status = "  " + Done;
    for (const std::string& note : Proposal.Notes) status += "  " + note;
    if (auto* label = Form.findChild<QLabel*>("StatusText")) label->setText(QString::fromStdString(status));
}

}  // namespace

void MatchEndGridCommand(TFMorpherGridEdit& Form, TMatchMode Mode) {
    TAlignOptions options;
    options.Mode = Mode;
    TGridProposal proposal;
    {
        TBusyCursor busy;
        proposal = ProposeMatchedEndGrid(*Form.MorphGrid, options);
    }
    Apply(Form, proposal, "Match end grid",
          std::string("End grid matched as ") + (proposal.Used == TMatchMode::Faces ? "faces." : "similar pictures."));
}

void FaceGridCommand(TFMorpherGridEdit& Form) {
    TGridProposal proposal;
    {
        TBusyCursor busy;
        proposal = ProposeFaceGrid(*Form.MorphGrid, {});
    }
    Apply(Form, proposal, "Face grid", "Face grid laid on both faces.");
}

TAlignActions AddAlignActions(TFMorpherGridEdit& Form, IDialogs& Dialogs) {
    TAlignActions a;
    QMenu* morph = Form.MorphMenu();
    morph->addSeparator();
    a.MatchEndGrid1 = morph->addMenu("Matc&h end grid");
    a.MatchEndGrid1->setObjectName("MatchEndGrid1");
    a.MatchAuto1 = a.MatchEndGrid1->addAction("&Auto");
    a.MatchAuto1->setObjectName("MatchAuto1");
    a.MatchFaces1 = a.MatchEndGrid1->addAction("&Faces");
    a.MatchFaces1->setObjectName("MatchFaces1");
    a.MatchSimilar1 = a.MatchEndGrid1->addAction("&Similar pictures");
    a.MatchSimilar1->setObjectName("MatchSimilar1");
    a.FaceGrid1 = morph->addAction("Face &grid");
    a.FaceGrid1->setObjectName("FaceGrid1");
    TFMorpherGridEdit* form = &Form;
    IDialogs* dialogs = &Dialogs;
    auto bind = [&](QAction* action, auto command) {
        QObject::connect(action, &QAction::triggered, &Form, [=] { Guarded(*dialogs, [&] { command(*form); }); });
    };
    bind(a.MatchAuto1, [](TFMorpherGridEdit& f) { MatchEndGridCommand(f, TMatchMode::Auto); });
    bind(a.MatchFaces1, [](TFMorpherGridEdit& f) { MatchEndGridCommand(f, TMatchMode::Faces); });
    bind(a.MatchSimilar1, [](TFMorpherGridEdit& f) { MatchEndGridCommand(f, TMatchMode::Similar); });
    bind(a.FaceGrid1, [](TFMorpherGridEdit& f) { FaceGridCommand(f); });
    return a;
}

}  // namespace qv
