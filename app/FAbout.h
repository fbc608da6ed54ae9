#pragma once
// The about box FrmAbout: program name, version and credits, closed with OK.
#include <QDialog>
#include <QIcon>
#include <QPixmap>

class QFrame;
class QLabel;
class QPushButton;

namespace qv {

// The program's icon, a square turning into a circle, in every size it ships in (16 to 256
// pixels; drawn in packaging/icons). Also the windows' icon.
QIcon ProgramIcon();
QPixmap ProgramIconPixmap(int size);

class TFrmAbout : public QDialog {
public:
    explicit TFrmAbout(QWidget* parent = nullptr);

    QFrame* Panel1 = nullptr;
    QLabel* ProgramIcon = nullptr;
    QLabel* ProductName = nullptr;
    QLabel* Version = nullptr;
    QLabel* Comments = nullptr;
    QLabel* Copyright = nullptr;
    QPushButton* OKButton = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace qv
