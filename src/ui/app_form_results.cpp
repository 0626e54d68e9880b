// The results panel: the three views, Remove Duplicates, the filter, copy,
// export and opening a finding; and the files list's Remove and Copy.

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "platform/desktop.h"
#include "results/dedup.h"
#include "results/export.h"
#include "results/filter.h"
#include "results/open_address.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/file_dialogs.h"
#include "ui/file_name_mime.h"
#include "ui/list_models.h"
#include "ui/test_seams.h"

namespace corvexa::ui {
namespace {

Text ToText(const QString& text) {
    return text.toStdU16String();
}

// Indices of the entries in [from, to) that contain needle.
std::vector<std::uint32_t> MatchesBetween(const SharedList& list, const Text& needle,
                                          std::size_t from, std::size_t to) {
    const results::EntryFilter filter(needle);
    std::vector<std::uint32_t> out;
    Text entry;
    for (std::size_t i = from; i < to && list.TryAt(i, entry); ++i)
        if (filter.Matches(entry)) out.push_back(static_cast<std::uint32_t>(i));
    return out;
}

// The busy cursor for as long as the object lives.
struct BusyCursor {
    BusyCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

// Runs work on a thread of its own while the window keeps drawing itself under
// the busy cursor; the user's input waits until the work is done. Returns when
// it is done; an error it raised is raised again here.
void TAppForm::RunOffWindowThread(const std::function<void()>& work) {
    BusyCursor busy;
    resultsBusy_ = true;
    ButtonStart->setEnabled(false);
    QEventLoop loop;
    std::exception_ptr error;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        try {
            PassOffWindowWorkGate();
            work();
        } catch (...) {
            error = std::current_exception();
        }
        done.store(true, std::memory_order_release);
    });
    // The window's thread looks at the flag itself rather than being handed an
    // event by the worker: nothing of Qt's crosses the threads.
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done.load(std::memory_order_acquire)) loop.quit();
    });
    poll.start();
    if (!done.load(std::memory_order_acquire)) loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    resultsBusy_ = false;
    ButtonStart->setEnabled(true);
    if (error) std::rethrow_exception(error);
}

void TAppForm::SwitchView(results::ViewMode mode) {
    if (resultsBusy_) return;
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    const int remembered = selected.isEmpty() ? -1 : ListView1->currentIndex().row();
    RunOffWindowThread([this, mode] {
        switch (mode) {
            case results::ViewMode::Url:
                lists_.ShowURLs();
                break;
            case results::ViewMode::Host:
                lists_.ShowHostnames();
                break;
            case results::ViewMode::Domain:
                lists_.ShowDomainNames();
                break;
        }
    });
    ShowCurrentList();
    if (remembered >= 0 && remembered < resultsModel_->RowCount()) {
        const QModelIndex index = resultsModel_->index(remembered, 0);
        ListView1->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ListView1->scrollTo(index);
    }
    ListView1->setFocus();
}

void TAppForm::ButtonRemoveDuplicatesClick() {
    if (resultsBusy_) return;
    RunOffWindowThread([this] {
        static const results::DedupCollator collator;
        lists_.RemoveDuplicates(collator);
    });
    ShowCurrentList();
    ListView1->scrollToTop();
    ShowAllFindings1->setEnabled(lists_.CanRestoreFindings());
}

// The URL list as found, before Remove Duplicates.
void TAppForm::ShowAllFindingsClick() {
    if (resultsBusy_ || State() != ScanState::Idle || !lists_.CanRestoreFindings()) return;
    lists_.RestoreFindings();
    ShowAllFindings1->setEnabled(false);
    ShowCurrentList();
    ListView1->scrollToTop();
    ShowCounters();
}

// The list of the view mode, through the filter when one is typed.
void TAppForm::ShowCurrentList() {
    filterApplied_.clear();
    FilterChanged(FilterEdit->text());
    UpdateFoundIn();
}

// How many entries of the current list the view covers: during a scan the
// findings the scan's figures count, otherwise the whole list.
std::size_t TAppForm::EntriesInView() const {
    if (State() != ScanState::Idle) return static_cast<std::size_t>(scan_->Progress().urls);
    return lists_.Current().Size();
}

void TAppForm::FilterChanged(const QString& text) {
    const SharedList& list = lists_.Current();
    const std::size_t covered = EntriesInView();
    if (text.isEmpty()) {
        resultsModel_->ShowAll(ViewRows(covered));
    } else if (State() != ScanState::Idle) {
        resultsModel_->ShowOnly(MatchesBetween(list, ToText(text), 0, covered));
    } else {
        const Text needle = ToText(text);
        const bool narrower = resultsModel_->Filtered() && !filterApplied_.isEmpty() &&
                              results::Narrows(ToText(filterApplied_), needle);
        resultsModel_->ShowOnly(results::FilterEntries(
            list, needle, narrower ? &resultsModel_->ShownEntries() : nullptr));
    }
    filterApplied_ = text;
    filterCovers_ = covered;
    UpdateResultsLabel();
}

void TAppForm::FindingsAdded(std::size_t urls) {
    if (!resultsModel_->Filtered()) {
        resultsModel_->SetRowCount(ViewRows(urls));
    } else if (urls > filterCovers_) {
        resultsModel_->AppendShown(
            MatchesBetween(lists_.Current(), ToText(filterApplied_), filterCovers_, urls));
        filterCovers_ = urls;
    }
    UpdateResultsLabel();
}

// "URLs: 1,234", "Host names: ...", "Domain names: ...", and with a filter
// "URLs: 12 of 1,234".
void TAppForm::UpdateResultsLabel() {
    QString name;
    switch (lists_.Mode()) {
        case results::ViewMode::Url:
            name = QStringLiteral("URLs");
            break;
        case results::ViewMode::Host:
            name = QStringLiteral("Host names");
            break;
        case results::ViewMode::Domain:
            name = QStringLiteral("Domain names");
            break;
    }
    const QLocale locale;
    const qint64 total = static_cast<qint64>(EntriesInView());
    QString text = name + QStringLiteral(": ");
    if (resultsModel_->Filtered())
        text += locale.toString(static_cast<qint64>(resultsModel_->RowCount())) +
                QStringLiteral(" of ");
    Label3->setText(text + locale.toString(total));
}

// The buttons keep their room for the whole scan and are only greyed out,
// so the list never moves under the pointer when the scan ends. The filter
// stays open: what is typed narrows the findings as they come.
void TAppForm::SetResultButtonsEnabled(bool enabled) {
    for (QPushButton* b :
         {ButtonShowURLs, ButtonShowHostnames, ButtonShowDomainNames, ButtonRemoveDuplicates})
        b->setEnabled(enabled);
    ShowAllFindings1->setEnabled(enabled && lists_.CanRestoreFindings());
}

void TAppForm::OpenFinding(const QModelIndex& index) {
    if (!index.isValid()) return;
    const std::optional<Text> address =
        results::AddressToOpen(ToText(resultsModel_->RowText(index.row())));
    if (!address) return;
    const QUrl url(QString::fromStdU16String(*address), QUrl::StrictMode);
    static const QStringList allowed = {QStringLiteral("http"), QStringLiteral("https"),
                                        QStringLiteral("ftp"), QStringLiteral("mailto")};
    if (!url.isValid() || !allowed.contains(url.scheme())) return;
    platform::OpenUrl(url);  // a failure is ignored, as with the help address
}

bool TAppForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ListView1 && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            OpenFinding(ListView1->currentIndex());
            return true;
        }
    }
    if (watched == ListBox1 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        Remove1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TAppForm::Remove1Click() {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : ListBox1->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    if (rows.empty()) return;
    ForgetOrigins();
    files_.RemoveAt(std::move(rows));
    filesModel_->Refresh();
}

// Every selected row, one per line, in list order.
void TAppForm::Copy1Click() {
    RunCommand(this, [this] {
        std::vector<std::pair<int, int>> ranges;
        for (const QItemSelectionRange& r : ListView1->selectionModel()->selection())
            ranges.emplace_back(r.top(), r.bottom());
        if (ranges.empty()) return;
        std::sort(ranges.begin(), ranges.end());
        QStringList lines;
        int next = 0;  // rows before it are taken
        for (const auto& [top, bottom] : ranges) {
            for (int row = std::max(top, next); row <= bottom; ++row)
                lines << resultsModel_->RowText(row);
            next = std::max(next, bottom + 1);
        }
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
    });
}

// The current entry's name, so that pasting it (in a shell, or as a file in a
// file manager) names the same file, whatever bytes its name holds.
void TAppForm::Copy2Click() {
    RunCommand(this, [this] {
        const QModelIndex current = ListBox1->currentIndex();
        Text path;
        if (!current.isValid() || !files_.TryAt(static_cast<std::size_t>(current.row()), path))
            return;
        QGuiApplication::clipboard()->setMimeData(FileNamesMime({path}).release());
    });
}

bool TAppForm::AskExportFile(QString& path) {
    if (!SaveDialog1) {
        SaveDialog1 = NewFileDialog(this, QString(), "SaveDialog1", QString());
        SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
        SaveDialog1->setFileMode(QFileDialog::AnyFile);
        SaveDialog1->setNameFilters(
            {QStringLiteral("TXT File (*.txt)"), QStringLiteral("Any File (*)")});
        SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
        SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, false);
    }
    SaveDialog1->selectNameFilter(SaveDialog1->nameFilters().first());
    if (!lastExportName_.isEmpty()) SaveDialog1->selectFile(lastExportName_);
    if (ExecModal(*SaveDialog1) != QDialog::Accepted) return false;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty()) return false;
    path = chosen.first();
    lastExportName_ = path;
    return true;
}

void TAppForm::ExportFoundFiles1Click() {
    RunCommand(this, [this] {
        QString path;
        if (!AskExportFile(path)) return;
        results::ExportList(files_, ToText(path));
    });
}

// What the view shows: the list of the view mode, or its filtered entries.
void TAppForm::ExportFoundURLs1Click() {
    RunCommand(this, [this] {
        QString path;
        if (!AskExportFile(path)) return;
        if (resultsModel_->Filtered())
            results::ExportRows(lists_.Current(), resultsModel_->ShownEntries(), ToText(path));
        else
            results::ExportList(lists_.Current(), ToText(path));
    });
}

}  // namespace corvexa::ui
