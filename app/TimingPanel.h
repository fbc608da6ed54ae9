#pragma once
// The preview's Timing panel: a curve, a delay and a lead for the shape change and for the
// colour change. Values out of range are brought into range with a note in the panel.
#include <QFrame>
#include <functional>
#include <string>

#include "morph/MorphTiming.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace qv {

class TTimingPanel : public QFrame {
public:
    explicit TTimingPanel(QWidget* parent);

    TMorphTiming Timing() const;
    // Shows timing, each curve brought into range; a curve that had to change is noted in
    // the panel (with extra text first, when given). Does not call OnChange.
    void SetTiming(const TMorphTiming& timing, const std::string& extra = std::string());

    // Called after the user changed a control (the timing then is Timing()).
    std::function<void()> OnChange;

    // Components, under their object names.
    QComboBox* CbShapeCurve = nullptr;
    QSpinBox* SeShapeDelay = nullptr;
    QSpinBox* SeShapeLead = nullptr;
    QComboBox* CbColourCurve = nullptr;
    QSpinBox* SeColourDelay = nullptr;
    QSpinBox* SeColourLead = nullptr;
    QLabel* LblTimingNote = nullptr;  // hidden while there is nothing to say

private:
    struct TRow {
        QComboBox* Curve;
        QSpinBox *Delay, *Lead;
        const char* Name;
    };
    TRow Row(bool shape) const;
    TTimingCurve CurveOf(const TRow& row) const;
    void Show(const TRow& row, const TTimingCurve& curve);
    // After the user changed a row: delay and lead together kept in range by lowering the
    // other one, with a note.
    void RowChanged(bool shape, bool delayChanged);
    void Note(const std::string& text);
};

}  // namespace qv
