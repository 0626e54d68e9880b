#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QWidget>
#include <exception>

namespace corvexa::ui {
namespace {

ModalHook& Hook() {
    static ModalHook hook;
    return hook;
}

}  // namespace

int ExecModal(QDialog& dialog) {
    if (Hook()) {
        // Queued, so it runs inside the dialog's own loop, after it is shown.
        QPointer<QDialog> guard(&dialog);
        QMetaObject::invokeMethod(
            &dialog,
            [guard] {
                if (guard && Hook()) Hook()(guard.data());
            },
            Qt::QueuedConnection);
    }
    // The window the dialog belongs to takes the keyboard back once it is
    // gone; otherwise the closed dialog can stay the active window and the
    // menu keys go nowhere until a click.
    QPointer<QWidget> owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    const int result = dialog.exec();
    if (owner && owner->isVisible()) {
        owner->raise();
        owner->activateWindow();
    }
    return result;
}

void SetModalHookForTesting(ModalHook hook) {
    Hook() = std::move(hook);
}

void ShowWarning(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("WarningBox"));
    ExecModal(box);
}

void ShowApplicationError(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), message,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ErrorBox"));
    ExecModal(box);
}

void RunCommand(QWidget* parent, const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        ShowApplicationError(parent, QString::fromUtf8(e.what()));
    }
}

}  // namespace corvexa::ui
