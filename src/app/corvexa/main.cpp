#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/desktop.h"
#include "platform/private_folder.h"
#include "ui/app_form.h"
#include "version/version_info.h"

namespace {

// corvexa --version: the version from the executable's own version block.
int PrintVersion() {
    try {
        auto data = corvexa::version::GetVersionData("/proc/self/exe");
        std::printf("Corvexa %s\n",
                    QString::fromStdU16String(data.FileVersion).toUtf8().constData());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvexa: %s\n", e.what());
        return 1;
    }
}

int PrintHelp() {
    std::printf(
        "Usage: corvexa [--help | --version]\n"
        "Finds web, e-mail and ftp addresses in the files of a folder or of a list.\n"
        "\n"
        "  --help     print this help and exit\n"
        "  --version  print the version and exit\n"
        "\n"
        "Without options the window opens. For scans without a window, see corvexa-scan --help.\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return PrintVersion();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
        return PrintHelp();
    corvexa::platform::CreateNamedMutex(QStringLiteral("KELMARE_Corvexa"));
    // What earlier runs that were killed left in the temporary folders.
    corvexa::platform::SweepStalePrivateFolders();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvexa"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/corvexa.svg")));
    try {
        int status = 0;
        {
            corvexa::ui::TAppForm form(corvexa::ui::AppEnvironment::FromSystem());
            form.show();
            // For smoke tests of an installed tree: close again after this many
            // milliseconds, once the window stands.
            if (const char* ms = std::getenv("CORVEXA_QUIT_AFTER_MS"))
                QTimer::singleShot(std::atoi(ms), &app, &QApplication::quit);
            status = app.exec();
        }
        // The window, its scan and its update check are gone, and every setting
        // was written when it changed. What remains is Qt's own ending, which
        // waits for host-name lookups still running in its thread pool (an
        // update check closed while the name of the maker's server is being
        // looked up; a lookup cannot be cancelled): seconds with a slow name
        // server. The process ends now instead, unless it owns the clipboard,
        // which the ending hands over to the desktop's clipboard keeper so that
        // what was copied can still be pasted.
        if (!QGuiApplication::clipboard()->ownsClipboard()) {
            std::fflush(nullptr);
            ::_exit(status);
        }
        return status;
    } catch (const std::exception& e) {
        // The window could not be created (no version block, an unreadable
        // language file): say why rather than vanish.
        QMessageBox::critical(nullptr, QApplication::applicationName(),
                              QString::fromUtf8(e.what()));
        return 1;
    }
}
