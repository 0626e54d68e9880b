#include "i18n/translated_dialog.h"

#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <utility>
#include <vector>

namespace corvexa::i18n {

namespace {

std::function<void(QMessageBox*)>& DialogHook() {
    static std::function<void(QMessageBox*)> hook;
    return hook;
}

// The order the buttons are created and shown in.
std::vector<QMessageBox::StandardButton> OrderedButtons(QMessageBox::StandardButtons buttons) {
    const QMessageBox::StandardButton leading[] = {
        QMessageBox::Yes,   QMessageBox::No,    QMessageBox::Ok,     QMessageBox::Cancel,
        QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore,
    };
    std::vector<QMessageBox::StandardButton> ordered;
    for (QMessageBox::StandardButton b : leading) {
        if (buttons.testFlag(b)) ordered.push_back(b);
    }
    for (unsigned flag = QMessageBox::FirstButton; flag <= QMessageBox::LastButton; flag <<= 1) {
        const auto b = static_cast<QMessageBox::StandardButton>(flag);
        if (!buttons.testFlag(b)) continue;
        bool listed = false;
        for (QMessageBox::StandardButton l : leading) listed = listed || l == b;
        if (!listed) ordered.push_back(b);
    }
    return ordered;
}

class TranslatedMessageBox : public QMessageBox {
public:
    TranslatedMessageBox(Icon icon, const QString& title, const QString& text, QWidget* parent)
        : QMessageBox(icon, title, text, NoButton, parent), hook_(DialogHook()) {}

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);  // sizes the box
        CentreOnScreen();
        if (hook_ && !event->spontaneous()) {
            // Runs once the modal event loop has started.
            auto hook = std::exchange(hook_, nullptr);
            QMetaObject::invokeMethod(
                this, [this, hook] { hook(this); }, Qt::QueuedConnection);
        }
    }

    void closeEvent(QCloseEvent* event) override {
        // Closed by the title bar: no button answers, unlike a message box's
        // usual mapping of that to its escape button.
        QDialog::closeEvent(event);
    }

private:
    void CentreOnScreen() {
        QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (!screen) return;
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    std::function<void(QMessageBox*)> hook_;
};

}  // namespace

QMessageBox::StandardButton ShowTranslatedDialog(const QString& message, QMessageBox::Icon kind,
                                                 QMessageBox::StandardButtons buttons,
                                                 const QString& title, const QStringList& captions,
                                                 QWidget* parent) {
    QPointer<TranslatedMessageBox> box = new TranslatedMessageBox(kind, title, message, parent);

    // Standard buttons carry the platform's captions and icons. Each is then put
    // back in one role, so that the row shows them in the order they were made,
    // whatever order the platform gives the roles.
    std::vector<std::pair<QPushButton*, QMessageBox::StandardButton>> created;
    for (QMessageBox::StandardButton b : OrderedButtons(buttons))
        created.emplace_back(box->addButton(b), b);
    for (auto& [button, which] : created) {
        box->removeButton(button);
        box->addButton(button, QMessageBox::ActionRole);
    }
    auto find = [&](QMessageBox::StandardButton which) -> QPushButton* {
        for (auto& [button, b] : created) {
            if (b == which) return button;
        }
        return nullptr;
    };
    QPushButton* defaultButton = find(QMessageBox::Ok);
    if (!defaultButton) defaultButton = find(QMessageBox::Yes);
    if (!defaultButton) defaultButton = find(QMessageBox::Retry);
    if (!defaultButton && !created.empty()) defaultButton = created.front().first;
    if (defaultButton) box->setDefaultButton(defaultButton);
    QPushButton* escapeButton = find(QMessageBox::Cancel);
    if (!escapeButton) escapeButton = find(QMessageBox::No);
    if (!escapeButton) escapeButton = find(QMessageBox::Ok);
    if (escapeButton) box->setEscapeButton(escapeButton);

    for (std::size_t i = 0; i < created.size() && i < static_cast<std::size_t>(captions.size());
         ++i)
        created[i].first->setText(captions[static_cast<qsizetype>(i)]);

    box->exec();
    if (!box) return QMessageBox::NoButton;  // its parent went away meanwhile
    QMessageBox::StandardButton result = QMessageBox::NoButton;
    for (auto& [button, which] : created) {
        if (box->clickedButton() == button) result = which;
    }
    delete box;
    return result;
}

void SetDialogHookForTesting(std::function<void(QMessageBox*)> hook) {
    DialogHook() = std::move(hook);
}

}  // namespace corvexa::i18n
