#include "ui/app_form.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include "engine/file_list.h"
#include "i18n/language.h"
#include "i18n/translated_dialog.h"
#include "net/checker.h"
#include "net/maker_host.h"
#include "net/update_check.h"
#include "platform/ansi_codepage.h"
#include "platform/desktop.h"
#include "platform/product_store.h"
#include "platform/ui_language.h"
#include "ui/about_box.h"
#include "ui/dialogs.h"
#include "ui/feedback_form.h"
#include "ui/file_dialogs.h"
#include "ui/list_models.h"
#include "ui/new_version.h"
#include "ui/scan_texts.h"
#include "ui/settings/data_folder.h"
#include "ui/spin_edit.h"
#include "ui/status_line.h"
#include "ui/translate_form.h"
#include "ui/widget_kit.h"
#include "version/version_info.h"

namespace corvexa::ui {
namespace {

QString FromText(const std::u16string& text) {
    return QString::fromStdU16String(text);
}
Text ToText(const QString& text) {
    return text.toStdU16String();
}

}  // namespace

AppEnvironment AppEnvironment::FromSystem() {
    AppEnvironment env;
    env.ExecutablePath = platform::ExecutablePath();
    env.ExecutableFolder = platform::ExecutableFolder();
    env.RoamingFolder = platform::RoamingAppDataFolder();
    env.DesktopFolder = platform::DesktopFolder();
    env.HomeFolder = QDir::homePath();
    return env;
}

TAppForm::TAppForm(const AppEnvironment& env, QWidget* parent)
    : QMainWindow(parent), env_(env), scan_(new ScanController(this)), control_(scan_->Control()) {
    setObjectName(QStringLiteral("AppForm"));
    control_.AnsiCodePage = platform::AnsiCodePage();
    connect(scan_, &ScanController::stateChanged, this,
            [this](ScanState s) { ScanStateChanged(s); });
    connect(scan_, &ScanController::walkStarted, this, [this] {
        StatusBar1->SetText(QStringLiteral("File scanning in progress...") + maskNote_);
    });
    connect(scan_, &ScanController::filesFound, this,
            [this](qint64 n) { filesModel_->EntriesAdded(static_cast<std::size_t>(n)); });
    connect(scan_, &ScanController::walkFinished, this, [this] { WalkFinished(); });
    // Entries of an archive's members went in after it: the rows below moved.
    connect(scan_, &ScanController::membersListed, this, [this] { filesModel_->Refresh(); });
    connect(scan_, &ScanController::readingFile, this,
            [this](const QString& p) { ReadingFile(p); });
    connect(scan_, &ScanController::fileDone, this, [this](qint64 urls) { FileDone(urls); });
    connect(scan_, &ScanController::progressed, this, [this] { ShowCounters(); });
    connect(scan_, &ScanController::finished, this,
            [this](bool invalid, const QString& error, double seconds) {
                IslemTamam(invalid, error, seconds);
            });
    BuildLayout();
    BuildMenus();
    FormCreate();
}

TAppForm::~TAppForm() {
    AbortScan();
}

// Ends a running scan at once (the window is closing); no completion follows.
void TAppForm::AbortScan() {
    if (State() == ScanState::Idle) return;
    scan_->Abort();
    QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------
// Creation

void TAppForm::FormCreate() {
    // 1-2: identity and caption, from the executable's version block.
    const version::ProgramIdentity identity =
        version::ReadProgramIdentity(QFile::encodeName(env_.ExecutablePath).toStdString());
    companyName_ = FromText(identity.CompanyName);
    productName_ = FromText(identity.ProductName);
    versionText_ = FromText(identity.VersionText);
    productTitle_ = FromText(identity.ProductTitle);
    setWindowTitle(productTitle_);

    // 3: data folder and settings store.
    dataFolder_ =
        ChooseDataFolder(env_.ExecutableFolder, companyName_, productName_, env_.RoamingFolder);
    settings_.Open(dataFolder_ + QStringLiteral("settings.ini"));

    // 4: the result lists are members, empty. 5-7: settings, drops, fields.
    ApplyMenuSettings();
    AllowFileDrop();
    ApplyFieldSettings();
    folderPickerStart_ = Edit8->text();

    // 8: the language, as the user chose it last or from the system's.
    i18n::LoadLanguageFrom(env_.ExecutableFolder,
                           i18n::StoredLanguageChoice(companyName_, productName_),
                           platform::UiLanguageId());

    LoadUpdateToggle();
    LoadFoundInChoice();

    // 9-10.
    ApplyWindowsVersionGate();
    TimerKacTaneTimer();

    // Typing at once goes into the folder field.
    Edit8->setFocus(Qt::OtherFocusReason);
}

// The update-notification item is usable from the start, whatever the check
// is doing: its mark is the stored choice, read here rather than when the
// check ends, which may be a whole time-out later.
void TAppForm::LoadUpdateToggle() {
    int show = 1;
    try {
        show = platform::ProductStore(companyName_, productName_)
                   .ReadInteger(net::store_names::ShowUpdate, 1);
    } catch (...) {
    }
    UpdateNotifications1->setChecked(show != 0);
    UpdateNotifications1->setEnabled(true);
}

void TAppForm::ApplyMenuSettings() {
    const struct {
        SettingKey key;
        QAction* item;
        std::atomic<bool>* flag;
    } detection[] = {
        {SettingKey::DetectEmail, email1, &control_.Switches.email},
        {SettingKey::DetectFtp, ftp1, &control_.Switches.ftp},
        {SettingKey::DetectHttp, http1, &control_.Switches.http},
        {SettingKey::DetectHttps, https1, &control_.Switches.https},
        {SettingKey::DetectWww, www1, &control_.Switches.www},
    };
    for (const auto& d : detection) {
        const bool on = IsOn(settings_, d.key);
        d.item->setChecked(on);
        d.flag->store(on);
    }

    const bool memory = ReadPlainTextProcessing(settings_) == PlainTextProcessing::MemoryStream;
    (memory ? MemoryStream1 : FileStream1)->setChecked(true);
    control_.MemoryStream.store(memory);

    PdfItem(ReadPdfProcessing(settings_))->setChecked(true);

    for (const DocumentKindInfo& kind : DocumentKindTable())
        decodeItems_[static_cast<std::size_t>(kind.kind)]->setChecked(
            IsOn(settings_, KeyNamed(kind.settingsKey)));
    for (std::size_t i = 0; i < kContainerSwitches.size(); ++i)
        containerItems_[i]->setChecked(
            IsOn(settings_, KeyNamed(kContainerSwitches[i].settingsKey)));
}

QAction* TAppForm::PdfItem(PdfMode mode) const {
    for (std::size_t i = 0; i < kPdfModes.size(); ++i)
        if (kPdfModes[i].mode == mode) return pdfItems_[i];
    return pdfItems_[0];
}

void TAppForm::ApplyFieldSettings() {
    // Each control raises its own change notification, whose handler writes
    // the value back when it differs from the control's designed state. Where
    // the system has no desktop folder (a plain install has none), the folder
    // field starts at the home folder.
    const QString start = QFileInfo(env_.DesktopFolder).isDir() || env_.HomeFolder.isEmpty()
                              ? env_.DesktopFolder
                              : env_.HomeFolder;
    Edit8->setText(ReadFolder(settings_, start));
    Edit1->setText(ReadFileMask(settings_));
    CheckBox1->setChecked(IsOn(settings_, SettingKey::IncludeSubfolders));
    CheckBox2->setChecked(IsOn(settings_, SettingKey::SkipLargeFiles));
    SpinEdit1->setValue(ReadSkipLargeFilesMB(settings_));
}

void TAppForm::ApplyWindowsVersionGate() {
    const platform::WindowsVersion v = platform::CurrentWindowsVersion();
    if (v.major > 6 || (v.major == 6 && v.minor >= 1)) return;
    PdfItem(PdfMode::PlainText)->setChecked(true);
    PdfItem(PdfMode::Xpdf)->setEnabled(false);
    PdfItem(PdfMode::Pdfium)->setEnabled(false);
    PdfItem(PdfMode::Xpdf)->setText(QStringLiteral("Xpdf (Windows 7 or later)"));
    PdfItem(PdfMode::Pdfium)->setText(QStringLiteral("PDFium (Windows 7 or later)"));
}

void TAppForm::AllowFileDrop() {
    setAcceptDrops(true);
}

void TAppForm::showEvent(QShowEvent* event) {
    static constexpr int kClientWidth = 784;
    static constexpr int kClientHeight = 541;
    if (!property("shownOnce").toBool()) {
        setProperty("shownOnce", true);
        resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - rect().center());
        }
        RestoreWindowPlace();
    }
    QMainWindow::showEvent(event);
}

void TAppForm::closeEvent(QCloseEvent* event) {
    if (resultsBusy_) {
        // Remove Duplicates or a derivation is still working on the lists.
        event->ignore();
        return;
    }
    AbortScan();
    if (checker_) checker_->Cancel();  // a check waiting on the network ends now
    SaveWindowPlace();
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// What the window remembers in the per-user store between runs: its place and
// size, the splitter, and the last ten folders scanned (newest first).

namespace {
constexpr int kRecentFolders = 10;
QString RecentKey(int i) {
    return QStringLiteral("RecentFolder%1").arg(i);
}
}  // namespace

void TAppForm::RestoreWindowPlace() {
    try {
        platform::ProductStore store(companyName_, productName_);
        const QByteArray geometry =
            QByteArray::fromBase64(store.ReadString(QStringLiteral("WindowGeometry")).toLatin1());
        if (!geometry.isEmpty()) restoreGeometry(geometry);
        const QByteArray splitter =
            QByteArray::fromBase64(store.ReadString(QStringLiteral("Splitter")).toLatin1());
        if (!splitter.isEmpty()) Splitter2->restoreState(splitter);
    } catch (const platform::ProductStoreError&) {
        // An unreadable store: the designed place.
    }
}

void TAppForm::SaveWindowPlace() {
    if (settingsFrozen_ || !property("shownOnce").toBool()) return;
    try {
        platform::ProductStore store(companyName_, productName_);
        store.WriteString(QStringLiteral("WindowGeometry"),
                          QString::fromLatin1(saveGeometry().toBase64()));
        store.WriteString(QStringLiteral("Splitter"),
                          QString::fromLatin1(Splitter2->saveState().toBase64()));
    } catch (const platform::ProductStoreError&) {
        // Closing goes on; the next start takes the designed place.
    }
}

QStringList TAppForm::RecentFolders() const {
    QStringList folders;
    try {
        platform::ProductStore store(companyName_, productName_);
        for (int i = 0; i < kRecentFolders; ++i)
            if (const QString f = store.ReadString(RecentKey(i)); !f.isEmpty()) folders << f;
    } catch (const platform::ProductStoreError&) {
    }
    return folders;
}

void TAppForm::RememberFolder(const QString& folder) {
    if (folder.trimmed().isEmpty()) return;
    QStringList folders = RecentFolders();
    folders.removeAll(folder);
    folders.prepend(folder);
    RunCommand(this, [&] {
        platform::ProductStore store(companyName_, productName_);
        for (int i = 0; i < kRecentFolders; ++i)
            store.WriteString(RecentKey(i), i < folders.size() ? folders[i] : QString());
    });
}

// The drop-down on the folder field: the last folders scanned.
void TAppForm::ShowRecentFolders() {
    QMenu menu(this);
    menu.setObjectName(QStringLiteral("RecentFoldersMenu"));
    for (const QString& folder : RecentFolders())
        menu.addAction(folder, this, [this, folder] { Edit8->setText(folder); });
    if (menu.isEmpty())
        menu.addAction(QStringLiteral("(no folder scanned yet)"))->setEnabled(false);
    if (recentMenuHook_) {
        recentMenuHook_(menu);
        return;
    }
    menu.exec(Edit8->mapToGlobal(QPoint(0, Edit8->height())));
}

// ---------------------------------------------------------------------------
// Scan

void TAppForm::ButtonStartClick() {
    switch (State()) {
        case ScanState::Stopping:
            return;
        case ScanState::Running:
            scan_->RequestStop();
            return;
        case ScanState::Idle:
            StartScan();
            return;
    }
}

ScanInputs TAppForm::ScanInputsFromControls() const {
    ScanInputs in;
    in.Mode = PageControl1->currentIndex() == 0 ? ScanMode::Directory : ScanMode::FileList;
    in.Folder = ToText(Edit8->text());
    in.HomeFolder = ToText(env_.HomeFolder);
    in.IncludeSubfolders = CheckBox1->isChecked();
    in.FileMask = ToText(Edit1->text());
    in.SkipLargeFiles = CheckBox2->isChecked();
    in.SkipLargeFilesMB = SpinEdit1->value();
    in.Email = control_.Switches.email.load();
    in.Ftp = control_.Switches.ftp.load();
    in.Http = control_.Switches.http.load();
    in.Https = control_.Switches.https.load();
    in.Www = control_.Switches.www.load();
    for (const DocumentKindInfo& kind : DocumentKindTable())
        in.Kinds.Set(kind.kind, decodeItems_[static_cast<std::size_t>(kind.kind)]->isChecked());
    for (std::size_t i = 0; i < kContainerSwitches.size(); ++i)
        in.*(kContainerSwitches[i].input) = containerItems_[i]->isChecked();
    for (std::size_t i = 0; i < kPdfModes.size(); ++i)
        if (pdfItems_[i]->isChecked()) in.Pdf = kPdfModes[i].mode;
    return in;
}

void TAppForm::StartScan() {
    DocumentReaderOptions readerOptions;
    readerOptions.converterFolder =
        QFile::encodeName(env_.ExecutableFolder + QStringLiteral("xpdf")).toStdString();
    readerOptions.cancel = &control_.StopRequested;
    readerOptions.ansiCodePage = control_.AnsiCodePage;
    const DocumentReaders readers = DocumentReaders::BuiltIn(readerOptions);
    ScanJobResult built = BuildScanJob(ScanInputsFromControls(), readers);
    if (built.Problem == ScanJobProblem::FolderBlank) {
        ShowWarning(this, QStringLiteral("Please enter folder!"));
        Edit8->setFocus();
        return;
    }
    if (built.Problem == ScanJobProblem::NoDetection) {
        ShowWarning(this, QStringLiteral("Please choose Detection!"));
        return;
    }
    const bool directory = built.Job.Mode == ScanMode::Directory;
    if (directory) RememberFolder(Edit8->text());
    NoteReadersOutsideTheMask(built.Job);
    scanMask_ = directory ? FromText(built.MaskUsed) : QString();
    if (directory) {
        files_.Clear();
        filesModel_->Refresh();
        if (!QFileInfo(FromText(built.Job.Folder)).isDir())
            ShowWarning(this, QStringLiteral("Directory not found!\n\n") + Edit8->text());
    } else if (DropMemberEntries(files_) != 0) {
        // The members an earlier scan listed come again with their archives.
        filesModel_->Refresh();
    }

    // What is typed in the filter stays and applies to the findings as they come.
    lists_.Reset();
    ShowCurrentList();
    Panel4->show();
    SetResultButtonsEnabled(false);
    Panel6->setEnabled(false);
    if (Edit1->text() != FromText(built.MaskUsed)) Edit1->setText(FromText(built.MaskUsed));

    QApplication::setOverrideCursor(Qt::BusyCursor);
    if (directory)
        StatusBar1->HideProgress();
    else
        StatusBar1->ShowProgress(0, -1);
    originsKept_ = FoundIn1->isChecked();
    if (!originsKept_) origins_.Clear();
    scan_->Start(std::move(built.Job), files_, lists_.Urls(), readers,
                 originsKept_ ? &origins_ : nullptr);
    UpdateOutcomeItems();
    ShowCounters();
}

// A document reader is switched on but the mask never lets its files into the
// scan (the default "*.txt" with PDF reading on): said once, beside the walk's
// progress, for each mask and set of such readers.
void TAppForm::NoteReadersOutsideTheMask(const ScanJob& job) {
    maskNote_.clear();
    const std::vector<std::string> outside = ReadersOutsideTheMask(job);
    if (outside.empty()) return;
    QStringList names;
    for (const std::string& name : outside) names << QString::fromStdString(name);
    const QString mask = FromText(job.FileMask);
    if (!maskNotesSaid_.insert(mask + QLatin1Char('|') + names.join(QLatin1Char(','))).second)
        return;
    maskNote_ = QStringLiteral(" \u00b7 The mask ") + mask +
                QStringLiteral(" never matches the files of ") + names.join(QStringLiteral(", ")) +
                QStringLiteral(" reading, which is switched on");
}

// A folder scan whose mask matched no file says so.
QString TAppForm::NoMatchText(bool maskInvalid) const {
    if (scanMask_.isEmpty() || maskInvalid || !files_.Empty()) return {};
    return QStringLiteral(" \u00b7 No file matches the mask ") + scanMask_;
}

void TAppForm::ScanStateChanged(ScanState state) {
    switch (state) {
        case ScanState::Running:
            ButtonStart->setText(QStringLiteral("STOP"));
            ButtonStart->setIcon(QIcon());
            break;
        case ScanState::Stopping:
            ButtonStart->setText(QStringLiteral("Stopping..."));
            ButtonStart->setEnabled(false);
            break;
        case ScanState::Idle:
            ButtonStart->setText(QStringLiteral("START"));
            ButtonStart->setIcon(Icon("sign-right"));
            ButtonStart->setEnabled(true);
            break;
    }
}

void TAppForm::WalkFinished() {
    StatusBar1->SetText(QString());
}

void TAppForm::ReadingFile(const QString& path) {
    StatusBar1->SetText(QStringLiteral("Reading ") + path + QStringLiteral("..."));
}

void TAppForm::FileDone(qint64 urls) {
    FindingsAdded(static_cast<std::size_t>(urls));
}

// Every counter on screen from one source: during a scan the figures the
// controller took in at its last visit (the list models follow the same
// figures), otherwise the lists themselves.
void TAppForm::ShowCounters() {
    if (State() == ScanState::Idle) {
        // Files, not the entries of the members read after an archive.
        StatusBar1->SetCounters(static_cast<qint64>(files_.Size() - CountMemberEntries(files_)),
                                static_cast<qint64>(lists_.Urls().Size()));
        UpdateResultsLabel();
        return;
    }
    const ScanController::Figures& f = scan_->Progress();
    StatusBar1->SetCounters(f.filesListed, f.urls);
    UpdateResultsLabel();
    if (scan_->WalkDone()) StatusBar1->ShowProgress(f.filesStarted, f.filesListed);
    StatusBar1->SetProgressText(ProgressText(f, scan_->WalkDone()));
}

void TAppForm::IslemTamam(bool maskInvalid, const QString& maskError, double seconds) {
    SetResultButtonsEnabled(true);
    Panel6->setEnabled(true);
    FindingsAdded(lists_.Urls().Size());

    TimerKacTane->stop();
    TimerKacTaneTimer();
    TimerKacTane->start();

    StatusBar1->SetText(QStringLiteral("Elapsed Time: ") + QLocale().toString(seconds, 'f', 3) +
                        QStringLiteral(" sec") + OutcomeText(scan_->Progress()) +
                        NoMatchText(maskInvalid));
    StatusBar1->HideProgress();
    StatusBar1->SetProgressText(QString());
    UpdateOutcomeItems();
    UpdateFoundIn();
    QApplication::restoreOverrideCursor();
    platform::Beep();
    if (maskInvalid) ShowWarning(this, QStringLiteral("Invalid file mask: ") + maskError);
    emit scanCompleted();
}

void TAppForm::TimerKacTaneTimer() {
    ShowCounters();
}

// ---------------------------------------------------------------------------
// File-list page, folder picker, drops

void TAppForm::Button4Click() {
    const auto dialog =
        NewFileDialog(this, QStringLiteral("Select folder:"), "FolderPicker", folderPickerStart_);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    if (ExecModal(*dialog) != QDialog::Accepted) return;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    folderPickerStart_ = QDir::toNativeSeparators(chosen.first());
    Edit8->setText(folderPickerStart_);
}

void TAppForm::Button6Click() {
    ForgetOrigins();
    files_.Clear();
    filesModel_->Refresh();
}

void TAppForm::Button3Click() {
    const auto dialog =
        NewFileDialog(this, QStringLiteral("Select Files"), "SelectFilesDialog", QString());
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilters({QStringLiteral("Files (*)")});
    if (ExecModal(*dialog) != QDialog::Accepted) return;
    for (const QString& path : dialog->selectedFiles()) files_.Append(ToText(path));
    filesModel_->Refresh();
}

void TAppForm::Button5Click() {
    const auto dialog =
        NewFileDialog(this, QStringLiteral("Load File List"), "LoadFileListDialog", QString());
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilters({QStringLiteral("TXT File (*.txt)"), QStringLiteral("Any File (*)")});
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    if (ExecModal(*dialog) != QDialog::Accepted) return;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return;
    RunCommand(this, [&] {
        ForgetOrigins();
        files_.Assign(LoadFileList(ToText(QDir::toNativeSeparators(chosen.first()))));
        filesModel_->Refresh();
    });
}

void TAppForm::dragEnterEvent(QDragEnterEvent* event) {
    // An entry dragged out of the files list is not dropped back onto it.
    if (event->source() == ListBox1) return;
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TAppForm::dropEvent(QDropEvent* event) {
    QStringList names;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) names << url.toLocalFile();
    if (names.isEmpty()) return;
    event->acceptProposedAction();
    DropNames(names);
}

void TAppForm::DropNames(const QStringList& names) {
    bool filesAdded = false;
    for (const QString& name : names) {
        if (QFileInfo(name).isDir()) {
            Edit8->setText(name);
            PageControl1->setCurrentIndex(0);
        } else {
            files_.Append(ToText(name));
            filesAdded = true;
            PageControl1->setCurrentIndex(1);
        }
    }
    if (filesAdded) filesModel_->Refresh();
}

// ---------------------------------------------------------------------------
// Settings

void TAppForm::StoreSetting(SettingKey key, const QString& value) {
    if (settingsFrozen_) return;
    RunCommand(this, [&] { settings_.SetValue(KeyName(key), value); });
}

void TAppForm::ToggleSetting(QAction* item, std::atomic<bool>* flag, SettingKey key) {
    const bool on = item->isChecked();  // the item has already changed its mark
    if (flag) flag->store(on);
    StoreSetting(key, OnOff(on));
}

void TAppForm::CheckBox1Click() {
    StoreSetting(SettingKey::IncludeSubfolders, OnOff(CheckBox1->isChecked()));
}

void TAppForm::CheckBox2Click() {
    const bool on = CheckBox2->isChecked();
    SpinEdit1->setEnabled(on);
    Label2->setEnabled(on);
    StoreSetting(SettingKey::SkipLargeFiles, OnOff(on));
}

void TAppForm::SpinEdit1Change() {
    StoreSetting(SettingKey::SkipLargeFilesMB, SkipLargeFilesMBToStore(SpinEdit1->text()));
}

void TAppForm::Edit1Change() {
    StoreSetting(SettingKey::FileMask, Edit1->text());
}

void TAppForm::Edit8Change() {
    StoreSetting(SettingKey::Folder, Edit8->text());
}

void TAppForm::ResettoDefaults1Click() {
    using i18n::TranslateText;
    const QMessageBox::StandardButton answer = i18n::ShowTranslatedDialog(
        TranslateText(QStringLiteral("Restart Application?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, TranslateText(QStringLiteral("Confirmation")),
        {TranslateText(QStringLiteral("Yes")), TranslateText(QStringLiteral("No"))}, this);
    if (answer != QMessageBox::Yes) return;
    QFile::remove(dataFolder_ + QStringLiteral("settings.ini"));
    settingsFrozen_ = true;  // nothing writes the file while this instance ends
    QCoreApplication::processEvents();
    platform::StartDetached(env_.ExecutablePath);
    close();
    QCoreApplication::quit();
}

void TAppForm::SetLanguageFile(const QString& Filename) {
    RunCommand(this, [&] { i18n::StoreLanguageChoice(companyName_, productName_, Filename); });
}

// ---------------------------------------------------------------------------
// Help menu and Exit

void TAppForm::Exit1Click() {
    close();
    QCoreApplication::quit();
}

void TAppForm::Language1Click() {
    TTranslateForm form(
        {dataFolder_, env_.ExecutablePath, [this](const QString& file) { SetLanguageFile(file); },
         [this] {  // ends this instance as Reset to Defaults does
             settingsFrozen_ = true;
             close();
             QCoreApplication::quit();
         }},
        this);
    ExecModal(form);
}

void TAppForm::SendFeedback1Click() {
    TFeedbackForm form(productName_, productTitle_, versionText_, this);
    ExecModal(form);
}

void TAppForm::About1Click() {
    TAboutBox box({productName_, versionText_, env_.ExecutableFolder}, this);
    ExecModal(box);
}

void TAppForm::Help2Click() {
    platform::OpenUrl(QUrl(net::HelpAddress(productName_)));  // a failure is ignored
}

void TAppForm::TimerCheckerTimer() {
    if (!checker_) {
        checker_ = std::make_unique<net::TChecker>(
            net::CheckSetup{
                companyName_, productName_, productTitle_, versionText_, {}, {}, nullptr, 10000},
            [this](const QString& text) { ShowServerMessage(this, text); });
        checker_->start();
        return;
    }
    if (!checker_->Completed()) return;
    TimerChecker->stop();
    if (checker_->Results().Notice && !NewVer)
        NewVer = new TNewVer(productName_, checker_->Results().ServerVersion,
                             checker_->Results().DownloadLink, this);
}

bool TAppForm::UpdateCheckDone() const {
    return checker_ && checker_->Completed() && !TimerChecker->isActive();
}

void TAppForm::UpdateNotifications1Click() {
    // The item has already toggled its mark; the store follows it.
    const bool on = UpdateNotifications1->isChecked();
    RunCommand(this, [&] {
        platform::ProductStore(companyName_, productName_)
            .WriteString(net::store_names::ShowUpdate,
                         on ? QStringLiteral("1") : QStringLiteral("0"));
    });
}

}  // namespace corvexa::ui
