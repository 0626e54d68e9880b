// The main window's menus, pop-up menus and keyboard shortcuts.

#include <QAction>
#include <QActionGroup>
#include <QCoreApplication>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <iterator>
#include <string_view>
#include <vector>

#include "ui/app_form.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {
namespace {

QAction* Checkable(QAction* a, bool checked) {
    a->setCheckable(true);
    a->setChecked(checked);
    return a;
}

}  // namespace

QAction* TAppForm::AddItem(QMenu* menu, const char* name, const QString& caption,
                           std::function<void()> handler) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, [handler = std::move(handler)] { handler(); });
    return a;
}

void TAppForm::BuildMenus() {
    BuildFileMenu();
    BuildSettingsMenu();
    BuildFoundInItems();
    BuildHelpMenu();
    BuildPopupMenus();
    BuildShortcuts();
}

void TAppForm::BuildFileMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    AddItem(file, "ExportFoundFiles1", QStringLiteral("Export Found Files..."),
            [this] { ExportFoundFiles1Click(); });
    AddItem(file, "ExportFoundURLs1", QStringLiteral("Export Found URLs..."),
            [this] { ExportFoundURLs1Click(); });
    ExportFindingPlaces1 =
        AddItem(file, "ExportFindingPlaces1", QStringLiteral("Export Findings with Places..."),
                [this] { ExportFindingPlaces1Click(); });
    ExportFindingPlaces1->setEnabled(false);
    file->addSeparator();
    AddItem(file, "Exit1", QStringLiteral("Exit"), [this] { Exit1Click(); })->setIcon(Icon("exit"));
}

void TAppForm::BuildSettingsMenu() {
    QMenu* settings = menuBar()->addMenu(QStringLiteral("&Settings"));
    settings->setObjectName(QStringLiteral("Settings1"));
    QMenu* detection = settings->addMenu(QStringLiteral("Detection"));
    detection->setObjectName(QStringLiteral("Detection1"));
    // The detection switches, then the document decoders: check items that
    // write their key on every change.
    const struct {
        QAction** item;
        const char* name;
        const char* caption;
        std::atomic<bool>* flag;  // the live switch, or none
        SettingKey key;
    } toggles[] = {
        {&email1, "email1", "email", &control_.Switches.email, SettingKey::DetectEmail},
        {&ftp1, "ftp1", "ftp", &control_.Switches.ftp, SettingKey::DetectFtp},
        {&http1, "http1", "http", &control_.Switches.http, SettingKey::DetectHttp},
        {&https1, "https1", "https", &control_.Switches.https, SettingKey::DetectHttps},
        {&www1, "www1", "www", &control_.Switches.www, SettingKey::DetectWww},
    };
    auto addToggle = [&](QMenu* menu, QAction** item, const char* name, const QString& caption,
                         std::atomic<bool>* flag, SettingKey key) {
        *item = Checkable(AddItem(menu, name, caption,
                                  [this, item, flag, key] { ToggleSetting(*item, flag, key); }),
                          DefaultOn(key));
    };
    for (const auto& t : toggles)
        addToggle(detection, t.item, t.name, QString::fromLatin1(t.caption), t.flag, t.key);
    settings->addSeparator();
    for (int position = 0; position < int(kDocumentKindCount); ++position) {
        for (const DocumentKindInfo& kind : DocumentKindTable()) {
            if (kind.menuPosition != position) continue;
            addToggle(
                settings, &decodeItems_[static_cast<std::size_t>(kind.kind)],
                kind.menuObjectName.data(),
                QString::fromLatin1(kind.menuCaption.data(), qsizetype(kind.menuCaption.size())),
                nullptr, KeyNamed(kind.settingsKey));
        }
    }
    for (std::size_t i = 0; i < kContainerSwitches.size(); ++i) {
        const ContainerSwitchInfo& c = kContainerSwitches[i];
        addToggle(settings, &containerItems_[i], c.menuObjectName.data(),
                  QString::fromLatin1(c.menuCaption.data(), qsizetype(c.menuCaption.size())),
                  nullptr, KeyNamed(c.settingsKey));
    }
    BuildReadingMenus(settings);
    settings->addSeparator();
    AddItem(settings, "ResettoDefaults1", QStringLiteral("Reset to Defaults..."),
            [this] { ResettoDefaults1Click(); });
}

// The two radio groups: how plain text is read and how PDF files are read.
void TAppForm::BuildReadingMenus(QMenu* settings) {
    struct Radio {
        QAction** item;
        const char* name;
        std::string_view caption;
        SettingKey key;
        std::string_view value;
        bool memory;  // for plain text: the whole file in memory
    };
    QAction** const plainItems[] = {&FileStream1, &MemoryStream1};
    static_assert(std::size(plainItems) == kPlainTextModes.size());
    std::vector<Radio> radios;
    for (std::size_t i = 0; i < kPlainTextModes.size(); ++i) {
        const PlainTextModeInfo& m = kPlainTextModes[i];
        radios.push_back({plainItems[i], m.menuObjectName.data(), m.menuCaption,
                          SettingKey::PlainTextProcessing, m.settingsValue, m.memoryStream});
    }
    for (std::size_t i = 0; i < kPdfModes.size(); ++i)
        radios.push_back({&pdfItems_[i], kPdfModes[i].menuObjectName.data(),
                          kPdfModes[i].menuCaption, SettingKey::PdfProcessing,
                          kPdfModes[i].settingsValue, false});
    QMenu* plain = settings->addMenu(QStringLiteral("Plain Text Processing"));
    plain->setObjectName(QStringLiteral("PlainTextProcessing1"));
    QMenu* pdf = settings->addMenu(QStringLiteral("PDF Processing"));
    pdf->setObjectName(QStringLiteral("PDFProcessing1"));
    auto* plainGroup = new QActionGroup(this);
    auto* pdfGroup = new QActionGroup(this);
    for (const auto& r : radios) {
        const bool isPlain = r.key == SettingKey::PlainTextProcessing;
        const SettingKey key = r.key;
        const QString value = QString::fromLatin1(r.value.data(), qsizetype(r.value.size()));
        const bool memory = r.memory;
        const bool designed =
            r.value == Info(key).defaultValue;  // checked as the window is designed
        *r.item =
            Checkable(AddItem(isPlain ? plain : pdf, r.name,
                              QString::fromLatin1(r.caption.data(), qsizetype(r.caption.size())),
                              [this, isPlain, memory, key, value] {
                                  if (isPlain) control_.MemoryStream.store(memory);
                                  StoreSetting(key, value);
                              }),
                      designed);
        (isPlain ? plainGroup : pdfGroup)->addAction(*r.item);
    }
}

void TAppForm::BuildHelpMenu() {
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction* onlineHelp =
        AddItem(help, "Help2", QStringLiteral("Online Help"), [this] { Help2Click(); });
    onlineHelp->setIcon(Icon("help"));
    onlineHelp->setShortcut(QKeySequence(Qt::Key_F1));
    onlineHelp->setShortcutContext(Qt::WindowShortcut);
    addAction(onlineHelp);  // F1 anywhere in the window
    help->addSeparator();
    UpdateNotifications1 =
        Checkable(AddItem(help, "UpdateNotifications1", QStringLiteral("Update Notifications"),
                          [this] { UpdateNotifications1Click(); }),
                  true);
    help->addSeparator();
    Language1 =
        AddItem(help, "Language1", QStringLiteral("Language..."), [this] { Language1Click(); });
    Language1->setIcon(Icon("flag"));
    Language1->setVisible(false);
    AddItem(help, "SendFeedback1", QStringLiteral("Send &Feedback..."), [this] {
        SendFeedback1Click();
    })->setIcon(Icon("feedback"));
    AddItem(help, "About1", QStringLiteral("&About..."), [this] {
        About1Click();
    })->setIcon(Icon("about"));
}

// The lists' pop-up menus. Their commands also answer keys while their list
// has the focus: Copy (Ctrl+C) in both; Delete in the files list is Remove
// (see eventFilter).
void TAppForm::BuildPopupMenus() {
    auto onlyIn = [](QWidget* view, QAction* a, const QKeySequence& keys) {
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetShortcut);
        view->addAction(a);
        return a;
    };
    auto* popup1 = new QMenu(this);
    popup1->setObjectName(QStringLiteral("PopupMenu1"));
    onlyIn(ListBox1, AddItem(popup1, "Copy2", QStringLiteral("Copy"), [this] { Copy2Click(); }),
           QKeySequence::Copy)
        ->setIcon(Icon("copy"));
    AddItem(popup1, "Remove1", QStringLiteral("Remove"), [this] {
        Remove1Click();
    })->setIcon(Icon("remove"));
    popup1->addSeparator();
    AddItem(popup1, "ExportFoundFiles2", QStringLiteral("Export Found Files..."), [this] {
        ExportFoundFiles1Click();
    })->setIcon(Icon("export"));
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this, popup1](const QPoint& pos) {
                popup1->popup(ListBox1->viewport()->mapToGlobal(pos));
            });

    auto* popup2 = new QMenu(this);
    popup2->setObjectName(QStringLiteral("PopupMenu2"));
    onlyIn(ListView1, AddItem(popup2, "Copy1", QStringLiteral("Copy"), [this] { Copy1Click(); }),
           QKeySequence::Copy)
        ->setIcon(Icon("copy"));
    // Undoes Remove Duplicates in the URL view: Ctrl+Z anywhere in the window
    // (a text field still takes it for its own text).
    ShowAllFindings1 = AddItem(popup2, "ShowAllFindings1", QStringLiteral("Show All Findings"),
                               [this] { ShowAllFindingsClick(); });
    ShowAllFindings1->setShortcut(QKeySequence::Undo);
    ShowAllFindings1->setShortcutContext(Qt::WindowShortcut);
    ShowAllFindings1->setEnabled(false);
    addAction(ShowAllFindings1);
    popup2->addSeparator();
    AddItem(popup2, "ExportFoundURLs2", QStringLiteral("Export Found URLs..."), [this] {
        ExportFoundURLs1Click();
    })->setIcon(Icon("export"));
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this, popup2](const QPoint& pos) {
                popup2->popup(ListView1->viewport()->mapToGlobal(pos));
            });
}

void TAppForm::BuildShortcuts() {
    // F5 anywhere in the window: START, or STOP while a scan runs.
    auto* startStop = new QAction(this);
    startStop->setObjectName(QStringLiteral("StartStop1"));
    startStop->setShortcut(QKeySequence(Qt::Key_F5));
    startStop->setShortcutContext(Qt::WindowShortcut);
    connect(startStop, &QAction::triggered, this, [this] {
        if (ButtonStart->isEnabled()) ButtonStartClick();
    });
    addAction(startStop);
}

}  // namespace corvexa::ui
