#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <exception>

#include "platform/desktop.h"
#include "ui/app_form.h"

int main(int argc, char** argv) {
    corvexa::platform::CreateNamedMutex(QStringLiteral("KELMARE_Corvexa"));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvexa"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/corvexa.svg")));
    try {
        corvexa::ui::TAppForm form(corvexa::ui::AppEnvironment::FromSystem());
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        // The window could not be created (no version block, an unreadable
        // language file): say why rather than vanish.
        QMessageBox::critical(nullptr, QApplication::applicationName(), QString::fromUtf8(e.what()));
        return 1;
    }
}
