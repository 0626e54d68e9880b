#include "ui/spin_edit.h"

#include <climits>

namespace corvexa::ui {

SpinEdit::SpinEdit(QWidget* parent) : QSpinBox(parent) {
    setRange(INT_MIN, INT_MAX);
    setSingleStep(1);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

QValidator::State SpinEdit::validate(QString&, int&) const {
    return QValidator::Acceptable;
}

int SpinEdit::valueFromText(const QString& text) const {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

}  // namespace corvexa::ui
