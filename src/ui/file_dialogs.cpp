#include "ui/file_dialogs.h"

#include <QDir>
#include <QMimeDatabase>

namespace corvexa::ui {
namespace {

QMimeType TypeByName(const QFileInfo& info) {
    return QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
}

}  // namespace

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
    // Folders, drives and links are told apart by the file system alone.
    if (info.isDir() || info.isRoot())
        return QFileIconProvider::icon(QAbstractFileIconProvider::Folder);
    const QIcon themed = QIcon::fromTheme(TypeByName(info).iconName());
    return themed.isNull() ? QFileIconProvider::icon(QAbstractFileIconProvider::File) : themed;
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
    if (info.isDir() || info.isRoot()) return QStringLiteral("Folder");
    if (!info.isFile()) return QStringLiteral("Special file");
    return TypeByName(info).comment();
}

NameOnlyIconProvider* NameOnlyIconProvider::Shared() {
    static NameOnlyIconProvider* provider =
        new NameOnlyIconProvider;  // lives as long as the program
    return provider;
}

std::unique_ptr<QFileDialog> NewFileDialog(QWidget* parent, const QString& title,
                                           const char* objectName, const QString& startFolder) {
    // Made in the root folder, which lists harmlessly, so that nothing is
    // listed with Qt's provider before this one is in place.
    auto dialog = std::make_unique<QFileDialog>(parent, title, QDir::rootPath());
    dialog->setObjectName(QString::fromLatin1(objectName));
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setIconProvider(NameOnlyIconProvider::Shared());
    dialog->setOption(QFileDialog::ReadOnly, false);
    dialog->setSizeGripEnabled(true);
    dialog->setDirectory(startFolder.isEmpty() ? QDir::homePath() : startFolder);
    return dialog;
}

}  // namespace corvexa::ui
