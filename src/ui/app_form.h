#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <set>

#include "engine/collector.h"
#include "engine/scan_job.h"
#include "engine/shared_list.h"
#include "results/views.h"
#include "ui/scan_controller.h"
#include "ui/settings/ini_store.h"
#include "ui/settings/settings_keys.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTabWidget;
class QTableView;
class QTimer;
class QWidget;

namespace corvexa::net {
class TChecker;
}

namespace corvexa::ui {

class FilesModel;
class FoundInPanel;
class TNewVer;
class ResultsModel;
class SpinEdit;
class StatusLine;

// Where the window finds its executable, its folders and the user's folders.
// The program takes them from the system; tests give their own.
struct AppEnvironment {
    QString ExecutablePath;    // holds the version block; a restart starts it
    QString ExecutableFolder;  // ends with '/': Languages, and the data folder when writable
    QString RoamingFolder;     // the per-user configuration folder
    QString DesktopFolder;     // the default "Directory:"
    QString HomeFolder;        // "~"; the default "Directory:" where there is no desktop folder
    static AppEnvironment FromSystem();
};

// The main window: scan inputs on two tabs, the files list, the results, the
// START button, the status bar and the menus. It owns the lists, the settings
// store and the program's identity for the whole run; a ScanController runs
// the scans.
class TAppForm : public QMainWindow {
    Q_OBJECT
public:
    using ScanState = ScanController::State;

    explicit TAppForm(const AppEnvironment& env, QWidget* parent = nullptr);
    ~TAppForm() override;

    // Program identity, from the executable's version block.
    const QString& CompanyName() const { return companyName_; }
    const QString& ProductName() const { return productName_; }
    const QString& VersionText() const { return versionText_; }
    const QString& ProductTitle() const { return productTitle_; }
    const QString& DataFolder() const { return dataFolder_; }

    ScanState State() const { return scan_->CurrentState(); }
    ScanController& Scan() { return *scan_; }
    results::ResultLists& Lists() { return lists_; }
    SharedList& Files() { return files_; }
    // Where each finding of the last scan was made (empty unless Found In was
    // on as it started); for measurements.
    const FindingOrigins& Origins() const { return origins_; }

    // The update check has completed and its outcome (the notice) is applied.
    bool UpdateCheckDone() const;

    // The folder field's drop-down of recent folders, handed to the hook
    // instead of being shown when a test sets one.
    void SetRecentMenuHookForTesting(std::function<void(QMenu&)> hook) {
        recentMenuHook_ = std::move(hook);
    }

    // Keeps the language the user chose for the next start.
    void SetLanguageFile(const QString& Filename);

signals:
    // A scan has completed (after the elapsed time is shown).
    void scanCompleted();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Enter on a finding opens it, as a double-click does; Delete in the files
    // list removes the selected entries.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Creation (app_form.cpp).
    void FormCreate();
    void ApplyMenuSettings();
    void ApplyFieldSettings();
    void ApplyWindowsVersionGate();
    void AllowFileDrop();
    void RestoreWindowPlace();
    void SaveWindowPlace();
    QStringList RecentFolders() const;
    void RememberFolder(const QString& folder);
    void ShowRecentFolders();
    void LoadUpdateToggle();

    // Layout (app_form_layout.cpp).
    void BuildLayout();
    QWidget* BuildTopPanel(QWidget* parent);
    QWidget* BuildDirectoryPage();
    QWidget* BuildFileListPage();
    QSplitter* BuildMiddle(QWidget* parent);
    QWidget* BuildFilesPanel(QWidget* parent);
    QWidget* BuildResultsPanel(QWidget* parent);
    QWidget* BuildBottomPanel(QWidget* parent);
    void WireControls();

    // Menus and shortcuts (app_form_menus.cpp).
    QAction* AddItem(QMenu* menu, const char* name, const QString& caption,
                     std::function<void()> handler);
    void BuildMenus();
    void BuildFileMenu();
    void BuildSettingsMenu();
    void BuildReadingMenus(QMenu* settings);
    void BuildHelpMenu();
    void BuildFoundInItems();
    void BuildPopupMenus();
    void BuildShortcuts();

    // Scan (START / STOP) and the controller's reports.
    void ButtonStartClick();
    void StartScan();
    void AbortScan();
    ScanInputs ScanInputsFromControls() const;
    void ScanStateChanged(ScanState state);
    void NoteReadersOutsideTheMask(const ScanJob& job);
    QString NoMatchText(bool maskInvalid) const;
    void WalkFinished();
    void ReadingFile(const QString& path);
    void FileDone(qint64 urls);
    // The scan has ended: enables the results and shows the completion.
    void IslemTamam(bool maskInvalid, const QString& maskError, double seconds);
    // The counters timer: shows how many files and findings there are so far.
    void TimerKacTaneTimer();
    void ShowCounters();

    // Results (app_form_results.cpp).
    void SwitchView(results::ViewMode mode);
    void ButtonRemoveDuplicatesClick();  // removes repeated findings from the URL view
    void ShowAllFindingsClick();
    void RunOffWindowThread(const std::function<void()>& work);
    void SetResultButtonsEnabled(bool enabled);
    void ShowCurrentList();
    // The URL list has grown to `urls` entries: the view shows them, through
    // the filter when one is typed.
    void FindingsAdded(std::size_t urls);
    std::size_t EntriesInView() const;
    void FilterChanged(const QString& text);
    void UpdateResultsLabel();
    void OpenFinding(const QModelIndex& index);
    void Remove1Click();            // removes the selected entries from the files list
    void Copy1Click();              // copies the selected findings
    void Copy2Click();              // copies the current files-list entry as a file
    void ExportFoundFiles1Click();  // saves the files list to a text file
    void ExportFoundURLs1Click();   // saves the findings shown to a text file
    bool AskExportFile(QString& path);

    // Where each finding was made, and the files not read (app_form_found_in.cpp).
    void LoadFoundInChoice();
    void FoundIn1Click();
    // Shows where the current entry of the results was found.
    void UpdateFoundIn();
    QString PlaceText(const FindingOrigins::Origin& origin) const;
    void SelectFileEntry(quint64 entry);
    // The files list no longer matches the scan's origins.
    void ForgetOrigins();
    void ExportFindingPlaces1Click();
    void FilesNotRead1Click();
    // After a scan: what can be listed and exported.
    void UpdateOutcomeItems();

    // File-list page and folder picker.
    void Button4Click();  // picks the folder to scan
    void Button6Click();  // clears the files list
    void Button3Click();  // adds chosen files to the files list
    void Button5Click();  // loads a files list from a text file
    void DropNames(const QStringList& names);

    // Settings handlers: each writes the whole file.
    // A check item's handler: the switch (if any) and the key follow its mark.
    void ToggleSetting(QAction* item, std::atomic<bool>* flag, SettingKey key);
    void StoreSetting(SettingKey key, const QString& value);
    void CheckBox1Click();         // stores Include Subfolders
    void CheckBox2Click();         // stores Skip Large Files and enables its size
    void SpinEdit1Change();        // stores the size above which files are skipped
    void Edit1Change();            // stores the file mask
    void Edit8Change();            // stores the folder to scan
    void ResettoDefaults1Click();  // asks, then restarts with default settings

    // Help menu and Exit.
    void Help2Click();          // opens the online help
    void Exit1Click();          // closes the window and ends the program
    void Language1Click();      // opens the language chooser
    void SendFeedback1Click();  // opens the feedback form
    void About1Click();         // opens the about box
    // Update check: started on the timer's first tick, polled on the later ones.
    void TimerCheckerTimer();
    void UpdateNotifications1Click();  // stores whether new versions are announced

    AppEnvironment env_;
    QString companyName_, productName_, versionText_, productTitle_;
    QString dataFolder_;
    IniStore settings_;
    bool settingsFrozen_ = false;  // set once the instance is ending for a restart
    QString folderPickerStart_;
    std::function<void(QMenu&)> recentMenuHook_;
    QString scanMask_;                 // the running folder scan's mask; empty for a file list
    QString maskNote_;                 // said beside the walk's progress
    std::set<QString> maskNotesSaid_;  // each said once

    results::ResultLists lists_;
    SharedList files_;
    ScanController* scan_ = nullptr;
    ScanControl& control_;
    bool resultsBusy_ = false;  // a derivation or Remove Duplicates runs off the window's thread
    QString filterApplied_;     // the filter text the results view shows
    std::size_t filterCovers_ = 0;  // the list entries the filtered view has looked at
    // Where each finding of the last scan was made, when "Found In" was on
    // as it started (originsKept_); read only between scans.
    FindingOrigins origins_;
    bool originsKept_ = false;

    // Controls, named as in the window's design.
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* Button4 = nullptr;
    QWidget* Panel6 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    SpinEdit* SpinEdit1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button5 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QWidget* Panel3 = nullptr;
    QListView* ListBox1 = nullptr;
    QWidget* Panel4 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* FilterEdit = nullptr;
    QPushButton* ButtonShowURLs = nullptr;
    QPushButton* ButtonShowHostnames = nullptr;
    QPushButton* ButtonShowDomainNames = nullptr;
    QTableView* ListView1 = nullptr;
    FoundInPanel* FoundInPanel1 = nullptr;
    QPushButton* ButtonRemoveDuplicates = nullptr;
    QPushButton* ButtonStart = nullptr;
    StatusLine* StatusBar1 = nullptr;
    QTimer* TimerKacTane = nullptr;  // drives TimerKacTaneTimer (the counters)
    QTimer* TimerChecker = nullptr;
    std::unique_ptr<net::TChecker> checker_;  // cancelled and joined when the window goes
    TNewVer* NewVer = nullptr;
    FilesModel* filesModel_ = nullptr;
    ResultsModel* resultsModel_ = nullptr;
    std::unique_ptr<QFileDialog> SaveDialog1;  // made at the first export
    QString lastExportName_;

    QAction* email1 = nullptr;
    QAction* ftp1 = nullptr;
    QAction* http1 = nullptr;
    QAction* https1 = nullptr;
    QAction* www1 = nullptr;
    // One check item per document kind ("DecodeEMLFiles1", ...), by kind.
    std::array<QAction*, kDocumentKindCount> decodeItems_{};
    // One check item per container switch ("ReadArchives1", ...), in table order.
    std::array<QAction*, kContainerSwitches.size()> containerItems_{};
    QAction* FileStream1 = nullptr;
    QAction* MemoryStream1 = nullptr;
    // "PlainText1", "PDFium1", "Xpdf1": one radio item per PDF mode, in menu order.
    std::array<QAction*, kPdfModes.size()> pdfItems_{};
    QAction* PdfItem(PdfMode mode) const;
    QAction* UpdateNotifications1 = nullptr;
    QAction* ShowAllFindings1 = nullptr;
    QAction* FoundIn1 = nullptr;
    QAction* FilesNotRead1 = nullptr;
    QAction* ExportFindingPlaces1 = nullptr;
    QAction* Language1 = nullptr;
};

}  // namespace corvexa::ui
