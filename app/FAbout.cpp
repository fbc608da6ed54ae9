#include "app/FAbout.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/QtOwn.h"
#include "qv/Version.h"

// The icon's resources sit in a static library: registering them by name keeps the linker
// from dropping them. Once is enough.
static void InitIconResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)done;
}

namespace qv {

QIcon ProgramIcon()
{
    InitIconResources();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap ProgramIconPixmap(int size)
{
    return ProgramIcon().pixmap(size, size);
}

TFrmAbout::TFrmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName("FrmAbout");
    setWindowTitle("About");
    setFixedSize(298, 213);
    setModal(true);

    Panel1 = Own<QFrame>(this);
    Panel1->setObjectName("Panel1");
    // Raised inside, lowered outside.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setMidLineWidth(1);
    Panel1->setGeometry(8, 8, 281, 161);

    ProgramIcon = Own<QLabel>(Panel1);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setGeometry(8, 8, 65, 57);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(ProgramIconPixmap(64));

    ProductName = Own<QLabel>("Quorvalin", Panel1);
    ProductName->setObjectName("ProductName");
    ProductName->move(88, 16);
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->adjustSize();

    Version = Own<QLabel>(QString("Version ") + QString::fromUtf8(ProgramVersion.data(), ProgramVersion.size()), Panel1);
    Version->setObjectName("Version");
    Version->move(88, 40);
    Version->adjustSize();

    Comments = Own<QLabel>("Morphs one picture into another.", Panel1);
    Comments->setObjectName("Comments");
    Comments->setWordWrap(true);
    Comments->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Comments->setGeometry(8, 104, 265, 24);

    Copyright = Own<QLabel>("Made with Qt 6 and libjpeg.", Panel1);
    Copyright->setObjectName("Copyright");
    Copyright->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Copyright->setGeometry(8, 128, 265, 16);

    OKButton = Own<QPushButton>("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(111, 180, 75, 25);
    OKButton->setDefault(true);
    QObject::connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TFrmAbout::showEvent(QShowEvent* event)
{
    // Centred on the screen each time it opens.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    QDialog::showEvent(event);
}

}  // namespace qv
