#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace corvexa::ui {

class ChoicePanel;

// The feedback window: a like/dislike choice, a message and an optional e-mail
// address, sent to the maker's web server ("/php/feedback.php", over
// HTTPS only). Success only when the reply, trimmed, is "OK"; on failure
// the window stays open with everything typed. Modal; closing destroys it.
class TFeedbackForm : public QDialog {
    Q_OBJECT
public:
    TFeedbackForm(const QString& productName, const QString& productTitle,
                  const QString& versionText, QWidget* parent = nullptr);
    ~TFeedbackForm() override;

    // The e-mail check, the whole trimmed address against the pattern.
    static bool IsValidEmail(const QString& address);

    bool Sending() const { return sending_; }

public slots:
    void reject() override;  // Escape and the close button; not while sending

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildLayout();
    void BuildBottom(QVBoxLayout* column);
    void LimitMessage();
    void FormCreate();  // fills in the translated texts
    void Choose(ChoicePanel* clicked, ChoicePanel* other);
    void BitBtn1Click();  // sends the feedback
    QString FeedbackText(const QString& message) const;
    void ShowResult(bool delivered);

    QString productName_, productTitle_, versionText_;
    bool sending_ = false;

    QWidget* Panel3 = nullptr;
    ChoicePanel* Panel4 = nullptr;
    ChoicePanel* Panel5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QWidget* Panel2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
};

}  // namespace corvexa::ui
