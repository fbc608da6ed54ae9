#include "app/FAbout.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>

#include "app/QtOwn.h"

namespace qv {

QPixmap ProgramIconPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 64.0;
    p.scale(s, s);
    // A square on the left melting into a circle on the right, joined by a grid line.
    p.setPen(QPen(QColor(128, 128, 128), 2));
    p.drawLine(QPointF(18, 32), QPointF(46, 32));
    p.setPen(QPen(QColor(0, 128, 0), 3));
    p.setBrush(QColor(70, 130, 200));
    p.drawRect(QRectF(4, 18, 26, 28));
    p.setBrush(QColor(230, 160, 60));
    p.drawEllipse(QRectF(34, 18, 26, 28));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 255, 0));
    for (const QPointF c : {QPointF(4, 18), QPointF(30, 46), QPointF(47, 18), QPointF(47, 46)})
        p.drawRect(QRectF(c.x() - 2.5, c.y() - 2.5, 5, 5));
    return pixmap;
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

    Version = Own<QLabel>("Version 0.1", Panel1);
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
