#include "ui/status_line.h"

#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QStatusBar>
#include <algorithm>
#include <climits>

namespace corvexa::ui {

StatusLine::StatusLine(QStatusBar* bar) : QObject(bar) {
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    const int widths[3] = {150, 150, 200};
    for (int i = 0; i < 3; ++i) {
        QLabel* panel = new QLabel(bar);
        panels_[i] = panel;
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        if (i < 2)
            panel->setFixedWidth(widths[i]);
        else
            panel->setMinimumWidth(widths[i]);
        panel->setTextFormat(Qt::PlainText);
        bar->addWidget(panel, i == 2 ? 1 : 0);
    }
    panels_[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progress_ = new QProgressBar(bar);
    progress_->setObjectName(QStringLiteral("ProgressBar1"));
    progress_->setFixedWidth(150);
    progress_->setFormat(QStringLiteral("%v / %m"));
    progress_->hide();
    progressText_ = new QLabel(bar);
    progressText_->setObjectName(QStringLiteral("ProgressText"));
    progressText_->setTextFormat(Qt::PlainText);
    progressText_->hide();
    notRead_ = new QLabel(bar);
    notRead_->setObjectName(QStringLiteral("NotReadLink"));
    notRead_->setTextFormat(Qt::RichText);  // a count and fixed words only
    notRead_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    notRead_->setToolTip(QStringLiteral("List the files that could not be read"));
    notRead_->hide();
    connect(notRead_, &QLabel::linkActivated, this, [this] { emit notReadClicked(); });
    bar->addPermanentWidget(notRead_);
    bar->addPermanentWidget(progressText_);
    bar->addPermanentWidget(progress_);
}

void StatusLine::SetProgressText(const QString& text) {
    progressText_->setText(text);
    progressText_->setVisible(!text.isEmpty());
}

void StatusLine::SetNotRead(qint64 count) {
    if (count <= 0) {
        notRead_->hide();
        return;
    }
    notRead_->setText(
        QStringLiteral("<a href=\"#not-read\">") + QLocale().toString(count) +
        (count == 1 ? QStringLiteral(" file not read") : QStringLiteral(" files not read")) +
        QStringLiteral("</a>"));
    notRead_->show();
}

void StatusLine::SetCounters(qint64 files, qint64 urls) {
    panels_[0]->setText(QStringLiteral("Total Files: ") + QLocale().toString(files));
    panels_[1]->setText(QStringLiteral("Total URLs: ") + QLocale().toString(urls));
}

void StatusLine::SetText(const QString& text) {
    panels_[2]->setText(text);
    panels_[2]->setToolTip(text);  // the whole text, where the panel cuts it short
}

void StatusLine::ShowProgress(qint64 read, qint64 total) {
    if (total < 0) {
        // Busy, the total not known yet.
        progress_->setRange(0, 0);
    } else {
        const int max = static_cast<int>(std::min<qint64>(total, INT_MAX));
        progress_->setRange(0, max);
        progress_->setValue(static_cast<int>(std::min<qint64>(read, max)));
    }
    progress_->show();
}

void StatusLine::HideProgress() {
    progress_->hide();
}

}  // namespace corvexa::ui
