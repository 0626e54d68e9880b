#include "ui/files_not_read.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace corvexa::ui {

FilesNotReadDialog::FilesNotReadDialog(const std::vector<ScanController::FailedFile>& failures,
                                       qint64 count, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("FilesNotReadForm"));
    setWindowTitle(QStringLiteral("Files Not Read"));
    resize(640, 320);
    auto* layout = new QVBoxLayout(this);
    const QLocale locale;
    QString title = locale.toString(count) + (count == 1 ? QStringLiteral(" file was not read")
                                                         : QStringLiteral(" files were not read"));
    if (static_cast<qint64>(failures.size()) < count)
        title += QStringLiteral(" (the first ") +
                 locale.toString(static_cast<qint64>(failures.size())) +
                 QStringLiteral(" are listed)");
    title_ = new QLabel(title + QLatin1Char(':'), this);
    title_->setObjectName(QStringLiteral("FilesNotReadTitle"));
    title_->setTextFormat(Qt::PlainText);
    list_ = new QPlainTextEdit(this);
    list_->setObjectName(QStringLiteral("FilesNotReadList"));
    list_->setReadOnly(true);
    list_->setLineWrapMode(QPlainTextEdit::NoWrap);
    list_->setTabChangesFocus(true);
    QStringList lines;
    for (const ScanController::FailedFile& f : failures)
        lines << f.path + QLatin1Char('\t') + f.reason;
    list_->setPlainText(lines.join(QLatin1Char('\n')));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(QStringLiteral("Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("FilesNotReadCopy"));
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(ListText()); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(title_);
    layout->addWidget(list_, 1);
    layout->addWidget(buttons);
}

QString FilesNotReadDialog::ListText() const {
    return list_->toPlainText();
}

}  // namespace corvexa::ui
