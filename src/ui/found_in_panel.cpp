#include "ui/found_in_panel.h"

#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QVBoxLayout>

namespace corvexa::ui {

FoundInPanel::FoundInPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("FoundInPanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(1);
    title_ = new QLabel(QStringLiteral("Found in:"), this);
    title_->setObjectName(QStringLiteral("FoundInTitle"));
    title_->setTextFormat(Qt::PlainText);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("FoundInList"));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setTabKeyNavigation(false);
    list_->setFixedHeight(QFontMetrics(font()).height() * 6 + 8);
    layout->addWidget(title_);
    layout->addWidget(list_);
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        const QListWidgetItem* item = list_->item(row);
        if (item && item->data(Qt::UserRole).isValid())
            emit entryChosen(item->data(Qt::UserRole).toULongLong());
    });
}

void FoundInPanel::ShowPlaces(const QStringList& places, const std::vector<std::uint64_t>& entries,
                              std::size_t total) {
    const QLocale locale;
    const auto n = static_cast<qint64>(total);
    QString title = QStringLiteral("Found in ");
    if (static_cast<std::size_t>(places.size()) < total)
        title += QStringLiteral("(the first ") + locale.toString(places.size()) +
                 QStringLiteral(" of) ");
    title += locale.toString(n) + (n == 1 ? QStringLiteral(" place:") : QStringLiteral(" places:"));
    title_->setText(title);
    list_->clear();
    for (qsizetype i = 0; i < places.size(); ++i) {
        auto* item = new QListWidgetItem(places[i], list_);
        const auto at = static_cast<std::size_t>(i);
        item->setData(Qt::UserRole,
                      at < entries.size() ? QVariant::fromValue<quint64>(entries[at]) : QVariant());
    }
}

void FoundInPanel::ShowNote(const QString& note) {
    title_->setText(QStringLiteral("Found in: ") + note);
    list_->clear();
}

QString FoundInPanel::Title() const {
    return title_->text();
}

QStringList FoundInPanel::Places() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->text();
    return out;
}

}  // namespace corvexa::ui
