#include "app/TimingPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

#include "app/QtOwn.h"

namespace qv {

TTimingPanel::TTimingPanel(QWidget* parent) : QFrame(parent)
{
    setObjectName("PnlTiming");
    setFrameShape(QFrame::StyledPanel);
    auto* grid = Own<QGridLayout>(this);
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(2);
    grid->addWidget(Own<QLabel>("Timing", this), 0, 0);
    grid->addWidget(Own<QLabel>("Curve", this), 0, 1);
    grid->addWidget(Own<QLabel>("Delay %", this), 0, 2);
    grid->addWidget(Own<QLabel>("Lead %", this), 0, 3);

    auto makeRow = [&](int line, const char* label, const char* name, QComboBox*& curve, QSpinBox*& delay,
                       QSpinBox*& lead) {
        grid->addWidget(Own<QLabel>(label, this), line, 0);
        curve = Own<QComboBox>(this);
        curve->setObjectName(QString("Cb%1Curve").arg(name));
        curve->addItem("Linear");
        curve->addItem("Ease in-out");
        grid->addWidget(curve, line, 1);
        for (auto [box, what] : {std::pair{&delay, "Delay"}, {&lead, "Lead"}}) {
            *box = Own<QSpinBox>(this);
            (*box)->setObjectName(QString("Se%1%2").arg(name, what));
            (*box)->setRange(0, kMaxDelayAndLead);
            (*box)->setSuffix(" %");
        }
        delay->setToolTip("Share of the transition before this change starts");
        lead->setToolTip("Share of the transition left after this change is complete");
        grid->addWidget(delay, line, 2);
        grid->addWidget(lead, line, 3);
    };
    makeRow(1, "Shape", "Shape", CbShapeCurve, SeShapeDelay, SeShapeLead);
    makeRow(2, "Colour", "Colour", CbColourCurve, SeColourDelay, SeColourLead);

    LblTimingNote = Own<QLabel>(this);
    LblTimingNote->setObjectName("LblTimingNote");
    LblTimingNote->setWordWrap(true);
    LblTimingNote->setStyleSheet("color: #a04000;");
    LblTimingNote->hide();
    grid->addWidget(LblTimingNote, 3, 0, 1, 4);

    for (bool shape : {true, false}) {
        const TRow r = Row(shape);
        connect(r.Curve, &QComboBox::currentIndexChanged, this, [this, shape](int) { RowChanged(shape, false); });
        connect(r.Delay, &QSpinBox::valueChanged, this, [this, shape](int) { RowChanged(shape, true); });
        connect(r.Lead, &QSpinBox::valueChanged, this, [this, shape](int) { RowChanged(shape, false); });
    }
}

TTimingPanel::TRow TTimingPanel::Row(bool shape) const
{
    return shape ? TRow{CbShapeCurve, SeShapeDelay, SeShapeLead, "shape"}
                 : TRow{CbColourCurve, SeColourDelay, SeColourLead, "colour"};
}

TTimingCurve TTimingPanel::CurveOf(const TRow& row) const
{
    return {row.Curve->currentIndex() == 1 ? TCurveKind::EaseInOut : TCurveKind::Linear, row.Delay->value(),
            row.Lead->value()};
}

TMorphTiming TTimingPanel::Timing() const { return {CurveOf(Row(true)), CurveOf(Row(false))}; }

void TTimingPanel::Show(const TRow& row, const TTimingCurve& curve)
{
    const QSignalBlocker a(row.Curve), b(row.Delay), c(row.Lead);
    row.Curve->setCurrentIndex(curve.Kind == TCurveKind::EaseInOut ? 1 : 0);
    row.Delay->setValue(curve.Delay);
    row.Lead->setValue(curve.Lead);
}

void TTimingPanel::Note(const std::string& text)
{
    LblTimingNote->setText(QString::fromStdString(text));
    LblTimingNote->setVisible(!text.empty());
}

void TTimingPanel::SetTiming(const TMorphTiming& timing, const std::string& extra)
{
    std::string note = extra;
    for (bool shape : {true, false}) {
        const TTimingCurve& wanted = shape ? timing.Shape : timing.Colour;
        bool changed = false;
        const TTimingCurve in = wanted.Clamped(&changed);
        if (changed)
            note += std::string(note.empty() ? "" : " ") + "The " + Row(shape).Name + " curve was out of range (" +
                    wanted.RangeError() + ") and is now " + CurveText(in) + ".";
        Show(Row(shape), in);
    }
    Note(note);
}

void TTimingPanel::RowChanged(bool shape, bool delayChanged)
{
    const TRow r = Row(shape);
    const TTimingCurve c = CurveOf(r);
    std::string note;
    if (c.Delay + c.Lead > kMaxDelayAndLead) {
        // The value just set stays; the other one gives way.
        QSpinBox* other = delayChanged ? r.Lead : r.Delay;
        const int kept = delayChanged ? c.Delay : c.Lead;
        {
            const QSignalBlocker block(other);
            other->setValue(kMaxDelayAndLead - kept);
        }
        note = std::string("Delay and lead of the ") + r.Name + " change are at most " +
               std::to_string(kMaxDelayAndLead) + " % together: the " + (delayChanged ? "lead" : "delay") +
               " is now " + std::to_string(kMaxDelayAndLead - kept) + " %.";
    }
    Note(note);
    if (OnChange)
        OnChange();
}

}  // namespace qv
