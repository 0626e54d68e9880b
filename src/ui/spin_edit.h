#pragma once

#include <QSpinBox>

namespace corvexa::ui {

// A size field that takes any whole number and lets the user type anything:
// text that is not a number counts as 0.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
};

}  // namespace corvexa::ui
