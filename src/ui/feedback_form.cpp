#include "ui/feedback_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <memory>
#include <string>

#include "engine/detect.h"
#include "i18n/language.h"
#include "net/feedback.h"
#include "platform/desktop.h"
#include "ui/dialogs.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {

// A choice: a panel with a picture and a caption; a left click on either chooses it.
class ChoicePanel : public QFrame {
    Q_OBJECT
public:
    ChoicePanel(const char* name, const QString& icon, QWidget* parent) : QFrame(parent) {
        setObjectName(QString::fromLatin1(name));
        setFrameShape(QFrame::Panel);
        setFrameShadow(QFrame::Raised);
        setLineWidth(1);
        setAutoFillBackground(true);
        setCursor(Qt::PointingHandCursor);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(6, 2, 6, 2);
        Image = new QLabel(this);
        Image->setObjectName(objectName() == QStringLiteral("Panel4") ? QStringLiteral("Image1")
                                                                      : QStringLiteral("Image2"));
        Image->setPixmap(QIcon(icon).pixmap(32, 32));
        Image->setFixedSize(32, 32);
        Caption = new QLabel(this);
        Caption->setFont(PixelFont(16));
        Caption->setAlignment(Qt::AlignCenter);
        Caption->setTextFormat(Qt::PlainText);
        row->addWidget(Image);
        row->addWidget(Caption, 1);
        SetSelected(false);
    }

    bool Selected() const {
        return palette().color(QPalette::Window) ==
               QApplication::palette().color(QPalette::Highlight);
    }

    void SetSelected(bool selected) {
        const QPalette style = QApplication::palette();
        QPalette p = palette();
        p.setColor(QPalette::Window,
                   style.color(selected ? QPalette::Highlight : QPalette::Button));
        p.setColor(QPalette::WindowText,
                   style.color(selected ? QPalette::HighlightedText : QPalette::WindowText));
        setPalette(p);
        setFrameShadow(selected ? QFrame::Sunken : QFrame::Raised);
    }

    QLabel* Image = nullptr;
    QLabel* Caption = nullptr;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            emit clicked();
    }
};

namespace {

QString Tr(const char* text) {
    return i18n::TranslateText(QString::fromUtf8(text));
}

// Trimmed of leading and trailing spaces and control characters.
QString Trim(const QString& text) {
    qsizetype first = 0, last = text.size();
    while (first < last && text[first].unicode() <= 0x20) ++first;
    while (last > first && text[last - 1].unicode() <= 0x20) --last;
    return text.mid(first, last - first);
}

// "I like it!", or "I like it! (<translation>)" when the caption differs.
QString ChoiceText(const QString& english, const QString& caption) {
    return caption == english ? english
                              : english + QStringLiteral(" (") + caption + QLatin1Char(')');
}

constexpr int kMessageLimit = 10000;

}  // namespace

TFeedbackForm::TFeedbackForm(const QString& productName, const QString& productTitle,
                             const QString& versionText, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      productName_(productName),
      productTitle_(productTitle),
      versionText_(versionText) {
    setObjectName(QStringLiteral("FeedbackForm"));
    setFont(PixelFont(11));
    setFixedSize(525, 326);
    BuildLayout();
    FormCreate();
}

TFeedbackForm::~TFeedbackForm() = default;

void TFeedbackForm::BuildLayout() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel3 = new QWidget(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedHeight(46);
    auto* choices = new QHBoxLayout(Panel3);
    choices->setContentsMargins(0, 0, 0, 0);
    choices->setSpacing(0);
    Panel4 = new ChoicePanel("Panel4", QStringLiteral(":/icons/like.svg"), Panel3);
    Panel5 = new ChoicePanel("Panel5", QStringLiteral(":/icons/dislike.svg"), Panel3);
    choices->addWidget(Panel4, 1);
    choices->addWidget(Panel5, 1);
    column->addWidget(Panel3);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(PixelFont(16));
    Label1->setContentsMargins(6, 6, 6, 2);
    column->addWidget(Label1);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(PixelFont(13, true));
    Label2->setContentsMargins(6, 2, 6, 4);
    column->addWidget(Label2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setFont(PixelFont(13));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    column->addWidget(Memo1, 1);
    BuildBottom(column);

    connect(Panel4, &ChoicePanel::clicked, this, [this] { Choose(Panel4, Panel5); });
    connect(Panel5, &ChoicePanel::clicked, this, [this] { Choose(Panel5, Panel4); });
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] { LimitMessage(); });
}

void TFeedbackForm::LimitMessage() {
    if (Memo1->document()->characterCount() - 1 <= kMessageLimit) return;
    Memo1->setPlainText(Memo1->toPlainText().left(kMessageLimit));
    QTextCursor end = Memo1->textCursor();
    end.movePosition(QTextCursor::End);
    Memo1->setTextCursor(end);
}

// The e-mail strip and the button strip.
void TFeedbackForm::BuildBottom(QVBoxLayout* column) {
    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(30);
    auto* mail = new QHBoxLayout(Panel1);
    mail->setContentsMargins(6, 3, 6, 3);
    Label3 = new QLabel(Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(PixelFont(13));
    Edit1->setMaxLength(100);
    mail->addWidget(Label3);
    mail->addWidget(Edit1, 1);
    column->addWidget(Panel1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(39);
    auto* buttons = new QHBoxLayout(Panel2);
    buttons->setContentsMargins(3, 3, 3, 3);
    buttons->addStretch(1);
    BitBtn1 = new QPushButton(Panel2);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setFixedSize(172, 33);
    BitBtn1->setFont(PixelFont(16));
    BitBtn1->setIcon(QIcon(QStringLiteral(":/icons/feedback.svg")));
    BitBtn1->setAutoDefault(false);  // Enter does not send
    BitBtn1->setDefault(false);
    buttons->addWidget(BitBtn1);
    column->addWidget(Panel2);
}

void TFeedbackForm::FormCreate() {
    setWindowTitle(productName_ + QLatin1Char(' ') + Tr("feedback"));
    Panel4->Caption->setText(Tr("I like it!"));
    Panel5->Caption->setText(Tr("I dislike it!"));
    Label1->setText(Tr("We would really appreciate your feedback."));
    Label2->setText(Tr("What did you like or dislike?"));
    Label3->setText(Tr("Include my e-mail:"));
    BitBtn1->setText(Tr("Send"));
}

void TFeedbackForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    Memo1->setFocus();
}

void TFeedbackForm::Choose(ChoicePanel* clicked, ChoicePanel* other) {
    if (!clicked->Selected()) clicked->SetSelected(true);
    if (other->Selected()) other->SetSelected(false);
}

bool TFeedbackForm::IsValidEmail(const QString& address) {
    // The whole address must be one e-mail address as a scan finds them.
    static const std::u16string pattern = u"^(?:" + std::u16string(patterns::kEmail) + u")$";
    static const std::unique_ptr<pcre2_code_16, void (*)(pcre2_code_16*)> code = [] {
        int error = 0;
        PCRE2_SIZE offset = 0;
        return std::unique_ptr<pcre2_code_16, void (*)(pcre2_code_16*)>(
            pcre2_compile_16(reinterpret_cast<PCRE2_SPTR16>(pattern.data()), pattern.size(), 0,
                             &error, &offset, nullptr),
            pcre2_code_free_16);
    }();
    if (!code) return false;
    std::unique_ptr<pcre2_match_data_16, void (*)(pcre2_match_data_16*)> data(
        pcre2_match_data_create_from_pattern_16(code.get(), nullptr), pcre2_match_data_free_16);
    if (!data) return false;
    return pcre2_match_16(code.get(), reinterpret_cast<PCRE2_SPTR16>(address.utf16()),
                          static_cast<PCRE2_SIZE>(address.size()), 0, 0, data.get(), nullptr) >= 0;
}

QString TFeedbackForm::FeedbackText(const QString& message) const {
    QString text;
    if (Panel4->Selected())
        text =
            ChoiceText(QStringLiteral("I like it!"), Panel4->Caption->text()) + QLatin1Char('\r');
    else if (Panel5->Selected())
        text = ChoiceText(QStringLiteral("I dislike it!"), Panel5->Caption->text()) +
               QLatin1Char('\r');
    return text + message;
}

void TFeedbackForm::BitBtn1Click() {
    if (sending_) return;  // one request at a time
    const QString message = Trim(Memo1->toPlainText());
    if (message.isEmpty()) {
        Memo1->setFocus();
        platform::Beep();
        return;
    }
    const QString email = Trim(Edit1->text());
    if (!email.isEmpty() && !IsValidEmail(email)) {
        Edit1->setFocus();
        QMessageBox box(QMessageBox::Critical, Tr("Failure"), Tr("Invalid e-mail address!"),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("InvalidEmailBox"));
        ExecModal(box);
        return;
    }
    const net::RequestFields fields =
        net::FeedbackFields(productTitle_, versionText_, FeedbackText(message), email);

    sending_ = true;
    BitBtn1->setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const bool delivered = net::DeliverFeedback(fields);
    QApplication::restoreOverrideCursor();
    BitBtn1->setEnabled(true);
    sending_ = false;
    ShowResult(delivered);
}

void TFeedbackForm::ShowResult(bool delivered) {
    const QString text =
        delivered ? Tr("Your feedback is received.") + QStringLiteral("\n\n") + Tr("Thank you!")
                  : Tr("Something went wrong. Your feedback could not be delivered.") +
                        QStringLiteral("\n\n") + Tr("Please try again later.");
    QMessageBox box(delivered ? QMessageBox::Information : QMessageBox::Critical,
                    delivered ? Tr("Success") : Tr("Failure"), text, QMessageBox::Ok, this);
    box.setObjectName(delivered ? QStringLiteral("SuccessBox") : QStringLiteral("FailureBox"));
    ExecModal(box);
    if (delivered) accept();
}

void TFeedbackForm::reject() {
    if (!sending_) QDialog::reject();
}

void TFeedbackForm::closeEvent(QCloseEvent* event) {
    if (sending_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace corvexa::ui

#include "feedback_form.moc"
