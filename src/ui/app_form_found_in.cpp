// Where each finding was made (Settings > Found In, the panel under the
// results, File > Export Findings with Places...) and the files a scan could
// not read (File > Files Not Read..., the status bar's link).

#include <QAction>
#include <QItemSelectionModel>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QTableView>

#include "engine/collector.h"
#include "engine/readers/archive_reader.h"
#include "platform/native_path.h"
#include "platform/product_store.h"
#include "results/export.h"
#include "results/places.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/files_not_read.h"
#include "ui/found_in_panel.h"
#include "ui/list_models.h"
#include "ui/status_line.h"

namespace corvexa::ui {
namespace {

// The per-user store's name for the Found In choice.
const QString kFoundInKey = QStringLiteral("ShowFoundIn");

}  // namespace

// Settings > Found In, and File > Files Not Read... beside the exports.
void TAppForm::BuildFoundInItems() {
    auto* settings = findChild<QMenu*>(QStringLiteral("Settings1"));
    auto* file = findChild<QMenu*>(QStringLiteral("File1"));
    settings->addSeparator();
    // Noting the origins costs about five bytes a finding, so it is the
    // user's choice; it takes effect at the next START.
    FoundIn1 =
        AddItem(settings, "FoundIn1", QStringLiteral("Found In"), [this] { FoundIn1Click(); });
    FoundIn1->setCheckable(true);
    FoundIn1->setStatusTip(
        QStringLiteral("Note where each address is found (from the next scan) and show it"));
    FilesNotRead1 = new QAction(QStringLiteral("Files Not Read..."), this);
    FilesNotRead1->setObjectName(QStringLiteral("FilesNotRead1"));
    connect(FilesNotRead1, &QAction::triggered, this, [this] { FilesNotRead1Click(); });
    file->insertAction(file->findChild<QAction*>(QStringLiteral("Exit1")), FilesNotRead1);
    file->insertSeparator(FilesNotRead1);
    FilesNotRead1->setEnabled(false);
    connect(StatusBar1, &StatusLine::notReadClicked, this, [this] { FilesNotRead1Click(); });
    connect(ListView1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { UpdateFoundIn(); });
    connect(FoundInPanel1, &FoundInPanel::entryChosen, this,
            [this](quint64 entry) { SelectFileEntry(entry); });
}

void TAppForm::LoadFoundInChoice() {
    int on = 0;
    try {
        on = platform::ProductStore(companyName_, productName_).ReadInteger(kFoundInKey, 0);
    } catch (const platform::ProductStoreError&) {
        // An unreadable store: off, as designed.
    }
    FoundIn1->setChecked(on != 0);
    FoundInPanel1->setVisible(on != 0);
}

void TAppForm::FoundIn1Click() {
    const bool on = FoundIn1->isChecked();
    FoundInPanel1->setVisible(on);
    UpdateFoundIn();
    if (settingsFrozen_) return;
    try {
        platform::ProductStore(companyName_, productName_).WriteInteger(kFoundInKey, on ? 1 : 0);
    } catch (const platform::ProductStoreError&) {
        // The choice holds for this run.
    }
}

// "PATH:LINE", a member of an archive as "ARCHIVE//MEMBER:LINE". A member
// that has an entry of its own in the files list is named as that entry names
// it (its name's bytes kept as the list keeps them), followed by what lies
// deeper than the entry (a document's links); a mailbox's message and a
// member without an entry follow the file's name.
QString TAppForm::PlaceText(const FindingOrigins::Origin& o) const {
    Text file;
    if (!files_.TryAt(o.file, file)) file.clear();
    Text entry;
    QString out;
    std::string deeper = o.member;
    if (o.entry != o.file && files_.TryAt(o.entry, entry) && IsMemberEntry(entry, file)) {
        const std::string skip = platform::NativeFromPath(entry).substr(
            platform::NativeFromPath(file).size() + kMemberSeparator.size());
        if (deeper.compare(0, skip.size(), skip) == 0) {
            out = QString::fromStdU16String(entry);
            deeper.erase(0, skip.size());
        }
    }
    if (out.isEmpty()) {
        out = QString::fromStdU16String(file);
        if (!deeper.empty()) deeper.insert(0, kMemberSeparator);
    }
    out += QString::fromStdU16String(platform::PathFromNative(deeper));
    return out + QLatin1Char(':') + QString::number(o.line);
}

// Selects the entry of the files list a place of the panel was found in.
void TAppForm::SelectFileEntry(quint64 entry) {
    if (entry >= static_cast<quint64>(filesModel_->rowCount())) return;
    const QModelIndex index = filesModel_->index(static_cast<int>(entry), 0);
    ListBox1->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    ListBox1->scrollTo(index);
}

void TAppForm::UpdateFoundIn() {
    if (!FoundIn1 || !FoundIn1->isChecked()) return;
    if (State() != ScanState::Idle) {
        FoundInPanel1->ShowNote(QStringLiteral("shown when the scan has ended"));
        return;
    }
    if (!originsKept_) {
        FoundInPanel1->ShowNote(lists_.Urls().Empty()
                                    ? QStringLiteral("select an address after a scan")
                                    : QStringLiteral("not noted for this scan; START again"));
        return;
    }
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid()) {
        FoundInPanel1->ShowNote(QStringLiteral("select an address"));
        return;
    }
    const results::FindingMatches matches = results::FindingsOf(
        lists_.Findings(), lists_.Mode(), resultsModel_->RowText(current.row()).toStdU16String(),
        FoundInPanel::kPlacesShown);
    QStringList places;
    std::vector<std::uint64_t> entries;
    places.reserve(static_cast<qsizetype>(matches.first.size()));
    entries.reserve(matches.first.size());
    for (std::size_t i : matches.first) {
        const FindingOrigins::Origin o = origins_.At(i);
        places << PlaceText(o);
        entries.push_back(o.entry);
    }
    FoundInPanel1->ShowPlaces(places, entries, matches.total);
}

void TAppForm::ForgetOrigins() {
    if (!originsKept_) return;
    originsKept_ = false;
    origins_.Clear();
    UpdateOutcomeItems();
    if (FoundIn1->isChecked())
        FoundInPanel1->ShowNote(QStringLiteral("the files list changed; START again"));
}

// Every finding of the last scan with its file and line, as
// `corvexa-scan -H -n` prints them.
void TAppForm::ExportFindingPlaces1Click() {
    if (!originsKept_ || State() != ScanState::Idle) return;
    RunCommand(this, [this] {
        QString path;
        if (!AskExportFile(path)) return;
        results::ExportPlaces(lists_.Findings(), origins_, files_, path.toStdU16String());
    });
}

void TAppForm::FilesNotRead1Click() {
    const ScanController::Figures& f = scan_->Progress();
    const qint64 count = f.filesFailed + f.entriesMissing;
    if (count == 0 || State() != ScanState::Idle) return;
    FilesNotReadDialog dialog(scan_->Failures(), count, this);
    ExecModal(dialog);
}

void TAppForm::UpdateOutcomeItems() {
    const bool idle = State() == ScanState::Idle;
    const ScanController::Figures& f = scan_->Progress();
    const qint64 notRead = idle ? f.filesFailed + f.entriesMissing : 0;
    StatusBar1->SetNotRead(notRead);
    FilesNotRead1->setEnabled(notRead > 0);
    ExportFindingPlaces1->setEnabled(idle && originsKept_);
}

}  // namespace corvexa::ui
