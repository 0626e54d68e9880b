#pragma once

#include <QFileDialog>
#include <QFileIconProvider>
#include <QString>
#include <memory>

namespace corvexa::ui {

// Names the type of a listed file and picks its icon from its name alone.
//
// Qt's own provider asks the MIME database for a file's type from its contents
// when the name says nothing. A listing of a folder like /proc then reads files
// such as /proc/kmsg, which never end or block, while holding the MIME
// database's lock, and the next caller on the window's thread waits for good.
// The files listed in a dialog are never opened here.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

    static NameOnlyIconProvider* Shared();
};

// A widget file dialog that lists files by name only (above), opened in
// startFolder (the user's home folder when empty) and never in the folder Qt
// remembers from an earlier dialog. Every file dialog of the window is made
// here, when it is first needed: resizable, no read-only choice.
std::unique_ptr<QFileDialog> NewFileDialog(QWidget* parent, const QString& title,
                                           const char* objectName, const QString& startFolder);

}  // namespace corvexa::ui
