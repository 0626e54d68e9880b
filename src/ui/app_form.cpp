#include "ui/app_form.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/text_reader.h"
#include "i18n/language.h"
#include "i18n/translated_dialog.h"
#include "net/checker.h"
#include "net/maker_host.h"
#include "platform/ansi_codepage.h"
#include "platform/desktop.h"
#include "platform/product_store.h"
#include "platform/tick.h"
#include "platform/ui_language.h"
#include "results/dedup.h"
#include "results/export.h"
#include "ui/about_box.h"
#include "ui/dialogs.h"
#include "ui/feedback_form.h"
#include "ui/list_models.h"
#include "ui/new_version.h"
#include "ui/scan_bridge.h"
#include "ui/settings/data_folder.h"
#include "ui/spin_edit.h"
#include "ui/translate_form.h"
#include "version/version_info.h"

namespace corvexa::ui {
namespace {

QString FromText(const std::u16string& text) { return QString::fromStdU16String(text); }
Text ToText(const QString& text) { return text.toStdU16String(); }

QIcon Icon(const char* name) {
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

// Tahoma where it is installed, otherwise the system's sans-serif face.
QString BaseFamily() {
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::families().contains(tahoma, Qt::CaseInsensitive)) return tahoma;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont PixelFont(int pixels, bool bold = false) {
    QFont font(BaseFamily());
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Trimmed of leading and trailing spaces and control characters.
bool IsBlank(const QString& text) {
    for (QChar c : text)
        if (c.unicode() > 0x20) return false;
    return true;
}

QString FormatThousands(qint64 n) { return QLocale().toString(n); }

// A box layout on a widget with the given margins and spacing (-1: the style's).
template <class Layout>
Layout* Box(QWidget* owner, const QMargins& margins, int spacing) {
    auto* layout = new Layout(owner);
    layout->setContentsMargins(margins);
    if (spacing >= 0) layout->setSpacing(spacing);
    return layout;
}

// An open dialog of the files-list page: resizable, no read-only choice.
void SetUpOpenDialog(QFileDialog& dialog, const char* name, QFileDialog::FileMode mode,
                     const QStringList& filters) {
    dialog.setObjectName(QString::fromLatin1(name));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(mode);
    dialog.setNameFilters(filters);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setSizeGripEnabled(true);
}

}  // namespace

AppEnvironment AppEnvironment::FromSystem() {
    AppEnvironment env;
    env.ExecutablePath = platform::ExecutablePath();
    env.ExecutableFolder = platform::ExecutableFolder();
    env.RoamingFolder = platform::RoamingAppDataFolder();
    env.DesktopFolder = platform::DesktopFolder();
    return env;
}

TAppForm::TAppForm(const AppEnvironment& env, QWidget* parent) : QMainWindow(parent), env_(env) {
    setObjectName(QStringLiteral("AppForm"));
    control_.AnsiCodePage = platform::AnsiCodePage();
    BuildLayout();
    BuildMenus();
    FormCreate();
}

TAppForm::~TAppForm() { StopCollector(); }

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
    dataFolder_ = ChooseDataFolder(env_.ExecutableFolder, companyName_, productName_,
                                   env_.RoamingFolder);
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

    // 9-10.
    ApplyWindowsVersionGate();
    TimerKacTaneTimer();
}

void TAppForm::BuildLayout() {
    setFont(PixelFont(11));

    auto* central = new QWidget(this);
    auto* column = Box<QVBoxLayout>(central, {0, 0, 0, 0}, 0);

    // Top panel with the two tabs.
    auto* top = new QWidget(central);
    top->setFixedHeight(122);
    auto* topLayout = Box<QVBoxLayout>(top, {0, 0, 0, 0}, -1);
    PageControl1 = new QTabWidget(top);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->tabBar()->setFont(PixelFont(16));
    topLayout->addWidget(PageControl1);

    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    auto* page1 = Box<QVBoxLayout>(TabSheet1, {4, 2, 4, 2}, 0);

    auto* row1 = new QWidget(TabSheet1);
    row1->setFixedHeight(30);
    auto* row1Layout = Box<QHBoxLayout>(row1, {0, 2, 0, 2}, -1);
    auto* label8 = new QLabel(QStringLiteral("Directory:"), row1);
    label8->setFixedWidth(100);
    label8->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Button4 = new QPushButton(row1);
    Button4->setObjectName(QStringLiteral("Button4"));
    Button4->setFixedSize(32, 26);
    Button4->setIcon(Icon("folder48"));
    Button4->setToolTip(QStringLiteral("Select Directory"));
    Edit8 = new QLineEdit(row1);
    Edit8->setObjectName(QStringLiteral("Edit8"));
    Edit8->setFont(PixelFont(16));
    Edit8->setAcceptDrops(false);
    row1Layout->addWidget(label8);
    row1Layout->addWidget(Button4);
    row1Layout->addWidget(Edit8, 1);
    page1->addWidget(row1);

    Panel6 = new QWidget(TabSheet1);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    Panel6->setFixedHeight(30);
    auto* row2Layout = Box<QHBoxLayout>(Panel6, {0, 2, 0, 2}, -1);
    auto* label1 = new QLabel(QStringLiteral("File Mask:"), Panel6);
    label1->setFixedWidth(100);
    Edit1 = new QLineEdit(QStringLiteral("*.txt"), Panel6);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(PixelFont(13));
    Edit1->setAcceptDrops(false);
    row2Layout->addWidget(label1);
    row2Layout->addWidget(Edit1, 1);
    page1->addWidget(Panel6);

    auto* row3 = new QWidget(TabSheet1);
    auto* row3Layout = Box<QHBoxLayout>(row3, {0, 2, 0, 0}, 0);
    CheckBox1 = new QCheckBox(QStringLiteral("Include Subfolders"), row3);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setChecked(true);
    CheckBox1->setFixedWidth(200);
    CheckBox2 = new QCheckBox(QStringLiteral("Skip Large Files:"), row3);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    SpinEdit1 = new SpinEdit(row3);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setFixedWidth(100);
    SpinEdit1->setFont(PixelFont(12));
    SpinEdit1->setValue(1024);
    SpinEdit1->setEnabled(false);
    Label2 = new QLabel(QStringLiteral("MB"), row3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setEnabled(false);
    row3Layout->addSpacing(105);
    row3Layout->addWidget(CheckBox1);
    row3Layout->addWidget(CheckBox2);
    row3Layout->addSpacing(6);
    row3Layout->addWidget(SpinEdit1);
    row3Layout->addSpacing(6);
    row3Layout->addWidget(Label2);
    row3Layout->addStretch(1);
    page1->addWidget(row3);
    page1->addStretch(1);
    PageControl1->addTab(TabSheet1, Icon("folders_explorer"), QStringLiteral("Directory Scan"));

    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    auto* page2 = Box<QVBoxLayout>(TabSheet2, {0, 2, 0, 2}, 2);
    auto makeListButton = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), TabSheet2);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedSize(198, 25);
        b->setFont(PixelFont(13));
        page2->addWidget(b, 0, Qt::AlignLeft);
        return b;
    };
    Button6 = makeListButton("Button6", "Clear Files");
    Button3 = makeListButton("Button3", "Select Files...");
    Button5 = makeListButton("Button5", "Load File List...");
    page2->addStretch(1);
    PageControl1->addTab(TabSheet2, Icon("document-copies-icon"), QStringLiteral("File List"));
    column->addWidget(top);

    // Middle: files panel, splitter, results panel.
    Splitter2 = new QSplitter(Qt::Horizontal, central);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setHandleWidth(5);
    Splitter2->setOpaqueResize(true);
    Splitter2->setChildrenCollapsible(false);

    Panel3 = new QWidget(Splitter2);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setMinimumWidth(1);
    auto* filesLayout = Box<QVBoxLayout>(Panel3, {2, 2, 2, 2}, 2);
    auto* label1Files = new QLabel(QStringLiteral("Files:"), Panel3);
    label1Files->setObjectName(QStringLiteral("Label1"));
    filesModel_ = new FilesModel(files_, this);
    ListBox1 = new QListView(Panel3);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setModel(filesModel_);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    filesLayout->addWidget(label1Files);
    filesLayout->addWidget(ListBox1, 1);

    Panel4 = new QWidget(Splitter2);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setMinimumWidth(1);
    auto* resultsLayout = Box<QVBoxLayout>(Panel4, {2, 2, 2, 2}, 0);
    auto* label3 = new QLabel(QStringLiteral("URLs:"), Panel4);
    label3->setObjectName(QStringLiteral("Label3"));
    resultsLayout->addWidget(label3);
    auto makeViewButton = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), Panel4);
        b->setObjectName(QString::fromLatin1(name));
        b->setFixedHeight(25);
        b->hide();
        resultsLayout->addWidget(b);
        return b;
    };
    ButtonShowURLs = makeViewButton("ButtonShowURLs", "Show URLs");
    ButtonShowHostnames = makeViewButton("ButtonShowHostnames", "Show Hostnames");
    ButtonShowDomainNames = makeViewButton("ButtonShowDomainNames", "Show Domain Names");

    resultsModel_ = new ResultsModel([this]() -> const SharedList& { return lists_.Current(); },
                                     this);
    ListView1 = new QTableView(Panel4);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setModel(resultsModel_);
    ListView1->horizontalHeader()->hide();
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    ListView1->setShowGrid(true);
    ListView1->setWordWrap(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    resultsLayout->addWidget(ListView1, 1);

    ButtonRemoveDuplicates = new QPushButton(Icon("database_repeat_delete"),
                                             QStringLiteral("Remove Duplicates"), Panel4);
    ButtonRemoveDuplicates->setObjectName(QStringLiteral("ButtonRemoveDuplicates"));
    ButtonRemoveDuplicates->hide();
    resultsLayout->addWidget(ButtonRemoveDuplicates);

    Splitter2->addWidget(Panel3);
    Splitter2->addWidget(Panel4);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    Splitter2->setSizes({379, 400});
    Panel4->hide();
    column->addWidget(Splitter2, 1);

    // Bottom panel with START.
    auto* panel1 = new QWidget(central);
    panel1->setObjectName(QStringLiteral("Panel1"));
    panel1->setFixedHeight(40);
    auto* bottom = Box<QHBoxLayout>(panel1, {3, 3, 3, 3}, -1);
    ButtonStart = new QPushButton(Icon("sign-right"), QStringLiteral("START"), panel1);
    ButtonStart->setObjectName(QStringLiteral("ButtonStart"));
    ButtonStart->setFixedSize(150, 34);
    ButtonStart->setFont(PixelFont(13, true));
    ButtonStart->setIconSize(QSize(24, 24));
    bottom->addWidget(ButtonStart);
    bottom->addStretch(1);
    column->addWidget(panel1);
    setCentralWidget(central);

    // Status bar: the two counters and the progress text.
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    const int widths[3] = {150, 150, 200};
    for (int i = 0; i < 3; ++i) {
        StatusPanels[i] = new QLabel(bar);
        StatusPanels[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        StatusPanels[i]->setFrameShape(QFrame::StyledPanel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
        if (i < 2)
            StatusPanels[i]->setFixedWidth(widths[i]);
        else
            StatusPanels[i]->setMinimumWidth(widths[i]);
        StatusPanels[i]->setTextFormat(Qt::PlainText);
        bar->addWidget(StatusPanels[i], i == 2 ? 1 : 0);
    }
    StatusPanels[2]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProgressBar1 = new QProgressBar(bar);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedWidth(150);
    ProgressBar1->setFormat(QStringLiteral("%v / %m"));
    ProgressBar1->hide();
    bar->addPermanentWidget(ProgressBar1);

    TimerKacTane = new QTimer(this);
    TimerKacTane->setObjectName(QStringLiteral("TimerKacTane"));
    TimerKacTane->setInterval(1000);
    connect(TimerKacTane, &QTimer::timeout, this, [this] { TimerKacTaneTimer(); });
    TimerKacTane->start();
    TimerChecker = new QTimer(this);
    TimerChecker->setObjectName(QStringLiteral("TimerChecker"));
    TimerChecker->setInterval(1000);
    connect(TimerChecker, &QTimer::timeout, this, [this] { TimerCheckerTimer(); });
    TimerChecker->start();

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setNameFilters({QStringLiteral("TXT File (*.txt)"), QStringLiteral("Any File (*)")});
    SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
    SaveDialog1->setOption(QFileDialog::DontConfirmOverwrite, false);
    SaveDialog1->setOption(QFileDialog::ReadOnly, false);
    SaveDialog1->setSizeGripEnabled(true);

    // Wiring.
    connect(ButtonStart, &QPushButton::clicked, this, [this] { ButtonStartClick(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button6, &QPushButton::clicked, this, [this] { Button6Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(ButtonShowURLs, &QPushButton::clicked, this,
            [this] { SwitchView(results::ViewMode::Url); });
    connect(ButtonShowHostnames, &QPushButton::clicked, this,
            [this] { SwitchView(results::ViewMode::Host); });
    connect(ButtonShowDomainNames, &QPushButton::clicked, this,
            [this] { SwitchView(results::ViewMode::Domain); });
    connect(ButtonRemoveDuplicates, &QPushButton::clicked, this,
            [this] { ButtonRemoveDuplicatesClick(); });
    connect(CheckBox1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
    connect(CheckBox2, &QCheckBox::toggled, this, [this] { CheckBox2Click(); });
    connect(SpinEdit1, &QSpinBox::textChanged, this, [this] { SpinEdit1Change(); });
    connect(Edit1, &QLineEdit::textChanged, this, [this] { Edit1Change(); });
    connect(Edit8, &QLineEdit::textChanged, this, [this] { Edit8Change(); });
}

void TAppForm::BuildMenus() {
    auto add = [this](QMenu* menu, const char* name, const QString& caption, auto handler) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    auto checkable = [](QAction* a, bool checked) {
        a->setCheckable(true);
        a->setChecked(checked);
        return a;
    };

    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("File1"));
    add(file, "ExportFoundFiles1", QStringLiteral("Export Found Files..."),
        [this] { ExportFoundFiles1Click(); });
    add(file, "ExportFoundURLs1", QStringLiteral("Export Found URLs..."),
        [this] { ExportFoundURLs1Click(); });
    file->addSeparator();
    QAction* exit = add(file, "Exit1", QStringLiteral("Exit"), [this] {
        close();
        QCoreApplication::quit();
    });
    exit->setIcon(Icon("exit"));

    QMenu* settings = menuBar()->addMenu(QStringLiteral("Settings"));
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
        {&DecodeEMLFiles1, "DecodeEMLFiles1", "Decode EML Files", nullptr, SettingKey::DecodeEML},
        {&DecodeExcelFiles1, "DecodeExcelFiles1", "Decode Excel Files", nullptr, SettingKey::DecodeExcel},
        {&DecodeWordFiles1, "DecodeWordFiles1", "Decode Word Files", nullptr, SettingKey::DecodeWord},
    };
    for (const auto& t : toggles) {
        if (!t.flag && t.item == &DecodeEMLFiles1) settings->addSeparator();
        QAction** item = t.item;
        std::atomic<bool>* flag = t.flag;
        const SettingKey key = t.key;
        *item = checkable(add(t.flag ? detection : settings, t.name, QString::fromLatin1(t.caption),
                              [this, item, flag, key] { ToggleSetting(*item, flag, key); }),
                          true);
    }

    QMenu* plain = settings->addMenu(QStringLiteral("Plain Text Processing"));
    plain->setObjectName(QStringLiteral("PlainTextProcessing1"));
    auto* plainGroup = new QActionGroup(this);
    FileStream1 = checkable(add(plain, "FileStream1", QStringLiteral("File Stream"), [this] {
                                control_.MemoryStream.store(false);
                                StoreSetting(SettingKey::PlainTextProcessing, QStringLiteral("FileStream"));
                            }),
                            true);
    MemoryStream1 = checkable(add(plain, "MemoryStream1", QStringLiteral("Memory Stream"), [this] {
                                  control_.MemoryStream.store(true);
                                  StoreSetting(SettingKey::PlainTextProcessing, QStringLiteral("MemoryStream"));
                              }),
                              false);
    plainGroup->addAction(FileStream1);
    plainGroup->addAction(MemoryStream1);

    QMenu* pdf = settings->addMenu(QStringLiteral("PDF Processing"));
    pdf->setObjectName(QStringLiteral("PDFProcessing1"));
    auto* pdfGroup = new QActionGroup(this);
    PlainText1 = checkable(add(pdf, "PlainText1", QStringLiteral("Plain Text"),
                               [this] { StoreSetting(SettingKey::PdfProcessing, QStringLiteral("PlainText")); }),
                           false);
    PDFium1 = checkable(add(pdf, "PDFium1", QStringLiteral("PDFium"),
                            [this] { StoreSetting(SettingKey::PdfProcessing, QStringLiteral("PDFium")); }),
                        false);
    Xpdf1 = checkable(add(pdf, "Xpdf1", QStringLiteral("Xpdf"),
                          [this] { StoreSetting(SettingKey::PdfProcessing, QStringLiteral("Xpdf")); }),
                      true);
    pdfGroup->addAction(PlainText1);
    pdfGroup->addAction(PDFium1);
    pdfGroup->addAction(Xpdf1);
    settings->addSeparator();
    add(settings, "ResettoDefaults1", QStringLiteral("Reset to Defaults..."),
        [this] { ResettoDefaults1Click(); });

    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction* onlineHelp = add(help, "Help2", QStringLiteral("Online Help"), [this] { Help2Click(); });
    onlineHelp->setIcon(Icon("help"));
    onlineHelp->setShortcut(QKeySequence(Qt::Key_F1));
    onlineHelp->setShortcutContext(Qt::WindowShortcut);
    addAction(onlineHelp);  // F1 anywhere in the window
    help->addSeparator();
    UpdateNotifications1 = checkable(add(help, "UpdateNotifications1",
                                         QStringLiteral("Update Notifications"),
                                         [this] { UpdateNotifications1Click(); }),
                                     true);
    UpdateNotifications1->setEnabled(false);
    help->addSeparator();
    Language1 = add(help, "Language1", QStringLiteral("Language..."), [this] {
        TTranslateForm form({dataFolder_, env_.ExecutablePath,
                             [this](const QString& file) { SetLanguageFile(file); },
                             [this] {  // ends this instance as Reset to Defaults does
                                 settingsFrozen_ = true;
                                 close();
                                 QCoreApplication::quit();
                             }},
                            this);
        ExecModal(form);
    });
    Language1->setIcon(Icon("flag"));
    Language1->setVisible(false);
    QAction* feedback = add(help, "SendFeedback1", QStringLiteral("Send &Feedback..."), [this] {
        TFeedbackForm form(productName_, productTitle_, versionText_, this);
        ExecModal(form);
    });
    feedback->setIcon(Icon("feedback"));
    QAction* about = add(help, "About1", QStringLiteral("&About..."), [this] {
        TAboutBox box({productName_, versionText_, env_.ExecutableFolder}, this);
        ExecModal(box);
    });
    about->setIcon(Icon("about"));

    // Pop-up menus.
    auto* popup1 = new QMenu(this);
    popup1->setObjectName(QStringLiteral("PopupMenu1"));
    add(popup1, "Copy2", QStringLiteral("Copy"), [this] { Copy2Click(); })->setIcon(Icon("copy"));
    add(popup1, "Remove1", QStringLiteral("Remove"), [this] { Remove1Click(); })
        ->setIcon(Icon("remove"));
    popup1->addSeparator();
    add(popup1, "ExportFoundFiles2", QStringLiteral("Export Found Files..."),
        [this] { ExportFoundFiles1Click(); })
        ->setIcon(Icon("export"));
    connect(ListBox1, &QWidget::customContextMenuRequested, this,
            [this, popup1](const QPoint& pos) { popup1->popup(ListBox1->viewport()->mapToGlobal(pos)); });

    auto* popup2 = new QMenu(this);
    popup2->setObjectName(QStringLiteral("PopupMenu2"));
    add(popup2, "Copy1", QStringLiteral("Copy"), [this] { Copy1Click(); })->setIcon(Icon("copy"));
    popup2->addSeparator();
    add(popup2, "ExportFoundURLs2", QStringLiteral("Export Found URLs..."),
        [this] { ExportFoundURLs1Click(); })
        ->setIcon(Icon("export"));
    connect(ListView1, &QWidget::customContextMenuRequested, this,
            [this, popup2](const QPoint& pos) { popup2->popup(ListView1->viewport()->mapToGlobal(pos)); });
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

    switch (ReadPdfProcessing(settings_)) {
        case PdfProcessing::PlainText: PlainText1->setChecked(true); break;
        case PdfProcessing::PDFium: PDFium1->setChecked(true); break;
        case PdfProcessing::Xpdf: Xpdf1->setChecked(true); break;
    }

    DecodeEMLFiles1->setChecked(IsOn(settings_, SettingKey::DecodeEML));
    DecodeExcelFiles1->setChecked(IsOn(settings_, SettingKey::DecodeExcel));
    DecodeWordFiles1->setChecked(IsOn(settings_, SettingKey::DecodeWord));
}

void TAppForm::ApplyFieldSettings() {
    // Each control raises its own change notification, whose handler writes
    // the value back when it differs from the control's designed state.
    Edit8->setText(ReadFolder(settings_, env_.DesktopFolder));
    Edit1->setText(ReadFileMask(settings_));
    CheckBox1->setChecked(IsOn(settings_, SettingKey::IncludeSubfolders));
    CheckBox2->setChecked(IsOn(settings_, SettingKey::SkipLargeFiles));
    SpinEdit1->setValue(ReadSkipLargeFilesMB(settings_));
}

void TAppForm::ApplyWindowsVersionGate() {
    const platform::WindowsVersion v = platform::CurrentWindowsVersion();
    if (v.major > 6 || (v.major == 6 && v.minor >= 1)) return;
    PlainText1->setChecked(true);
    Xpdf1->setEnabled(false);
    PDFium1->setEnabled(false);
    Xpdf1->setText(QStringLiteral("Xpdf (Windows 7 or later)"));
    PDFium1->setText(QStringLiteral("PDFium (Windows 7 or later)"));
}

void TAppForm::AllowFileDrop() { setAcceptDrops(true); }

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
    }
    QMainWindow::showEvent(event);
}

void TAppForm::closeEvent(QCloseEvent* event) {
    StopCollector();
    if (checker_) checker_->Cancel();  // a check waiting on the network ends now
    QMainWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------
// Scan

void TAppForm::ButtonStartClick() {
    switch (state_) {
        case ScanState::Stopping: return;
        case ScanState::Running:
            control_.StopRequested.store(true);
            ButtonStart->setText(QStringLiteral("Stopping..."));
            ButtonStart->setEnabled(false);
            state_ = ScanState::Stopping;
            return;
        case ScanState::Idle: StartScan(); return;
    }
}

void TAppForm::StartScan() {
    if (IsBlank(Edit8->text())) {
        ShowWarning(this, QStringLiteral("Please enter folder!"));
        Edit8->setFocus();
        return;
    }
    if (!control_.Switches.email && !control_.Switches.ftp && !control_.Switches.http &&
        !control_.Switches.https && !control_.Switches.www) {
        ShowWarning(this, QStringLiteral("Please choose Detection!"));
        return;
    }
    const bool directory = PageControl1->currentIndex() == 0;
    if (directory) {
        files_.Clear();
        filesModel_->Refresh();
        if (!QFileInfo(Edit8->text()).isDir())
            ShowWarning(this, QStringLiteral("Directory not found!\n\n") + Edit8->text());
    }

    resultsModel_->ResetRowCount(0);
    lists_.Reset();
    Panel4->show();
    StatusPanels[1]->clear();

    state_ = ScanState::Running;
    ButtonStart->setText(QStringLiteral("STOP"));
    ButtonStart->setIcon(QIcon());
    for (QPushButton* b :
         {ButtonRemoveDuplicates, ButtonShowURLs, ButtonShowHostnames, ButtonShowDomainNames})
        b->hide();
    Panel6->setEnabled(false);

    ScanJob job;
    if (IsBlank(Edit1->text())) Edit1->setText(QStringLiteral("*"));
    job.FileMask = ToText(Edit1->text());
    DocumentReaderOptions readerOptions;
    readerOptions.dataFolder = QFile::encodeName(dataFolder_).toStdString();
    readerOptions.converterFolder = QFile::encodeName(env_.ExecutableFolder + QStringLiteral("xpdf")).toStdString();
    readerOptions.cancel = &control_.StopRequested;
    readerOptions.ansiCodePage = control_.AnsiCodePage;
    const DocumentReaders readers = DocumentReaders::BuiltIn(readerOptions);
    job.DecodeEML = DecodeEMLFiles1->isChecked();
    job.DecodeExcel = DecodeExcelFiles1->isChecked() && DocumentReaders::Usable(readers.excel);
    job.DecodeWord = DecodeWordFiles1->isChecked() && DocumentReaders::Usable(readers.word);
    job.PdfProcessing = Xpdf1->isChecked() ? "xpdf" : PDFium1->isChecked() ? "pdfium" : "";
    job.SkipLargeFilesMB = CheckBox2->isChecked() ? SpinEdit1->value() : 0;
    job.Mode = directory ? ScanMode::Directory : ScanMode::FileList;
    job.Folder = ToText(Edit8->text());
    job.IncludeSubfolders = CheckBox1->isChecked();

    control_.StopRequested.store(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    walkDone_ = !directory;
    filesRead_ = 0;
    ProgressBar1->setVisible(walkDone_);
    ProgressBar1->setRange(0, 0);

    bridge_ = std::make_unique<ScanBridge>(lists_.Urls());
    ScanBridge* b = bridge_.get();
    connect(b, &ScanBridge::wake, this, [this] { TakeNotifications(); }, Qt::QueuedConnection);
    collector_ = std::make_unique<TCollector>(std::move(job), files_, lists_.Urls(), control_, *b,
                                              readers);
    collector_->Start();
}

// Applies what the collector did since the last visit, in the order it
// happened: the walk's start, the files it found, its end, the file being read,
// the files done, the end of the scan.
void TAppForm::TakeNotifications() {
    if (!bridge_) return;
    const ScanBridge::Pending p = bridge_->Take();
    if (p.walkStarted) WalkStarted();
    if (p.filesFound) filesModel_->EntriesAdded(p.filesFound);
    if (p.walkFinished) WalkFinished();
    if (p.filesStarted) {
        filesRead_ += static_cast<qint64>(p.filesStarted);
        ReadingFile(p.readingPath);
    }
    if (p.fileDone) FileDone(p.urlsDone);
    if (p.finished) IslemTamam(p.maskInvalid, p.maskError);
}

void TAppForm::WalkStarted() { StatusPanels[2]->setText(QStringLiteral("File scanning in progress...")); }

void TAppForm::WalkFinished() {
    StatusPanels[2]->clear();
    walkDone_ = true;
    ProgressBar1->show();
    ShowProgress();
}

void TAppForm::ReadingFile(const QString& path) {
    StatusPanels[2]->setText(QStringLiteral("Reading ") + path + QStringLiteral("..."));
    ShowProgress();
}

void TAppForm::ShowProgress() {
    if (!walkDone_) return;
    const int total = ViewRows(files_.Size());
    ProgressBar1->setRange(0, total);
    ProgressBar1->setValue(static_cast<int>(std::min<qint64>(filesRead_, total)));
}

void TAppForm::FileDone(std::size_t urls) { resultsModel_->SetRowCount(ViewRows(urls)); }

void TAppForm::IslemTamam(bool maskInvalid, const QString& maskError) {
    if (!collector_) return;
    collector_->Wait();
    const std::uint32_t startTick = collector_->StartTick();
    collector_.reset();
    bridge_.reset();

    state_ = ScanState::Idle;
    ButtonStart->setText(QStringLiteral("START"));
    ButtonStart->setIcon(Icon("sign-right"));
    ButtonStart->setEnabled(true);
    for (QPushButton* b :
         {ButtonShowURLs, ButtonShowHostnames, ButtonShowDomainNames, ButtonRemoveDuplicates})
        b->show();
    Panel6->setEnabled(true);

    TimerKacTane->stop();
    TimerKacTaneTimer();
    TimerKacTane->start();

    const double seconds = ElapsedSeconds(startTick, platform::TickCount32());
    StatusPanels[2]->setText(QStringLiteral("Elapsed Time: ") +
                             QLocale().toString(seconds, 'f', 3) + QStringLiteral(" sec"));
    ProgressBar1->hide();
    QApplication::restoreOverrideCursor();
    platform::Beep();
    if (maskInvalid)
        ShowWarning(this, QStringLiteral("Invalid file mask: ") + maskError);
    emit scanCompleted();
}

void TAppForm::TimerKacTaneTimer() {
    StatusPanels[0]->setText(QStringLiteral("Total Files: ") +
                             FormatThousands(static_cast<qint64>(files_.Size())));
    StatusPanels[1]->setText(QStringLiteral("Total URLs: ") +
                             FormatThousands(static_cast<qint64>(lists_.Urls().Size())));
}

void TAppForm::StopCollector() {
    if (!collector_) return;
    control_.StopRequested.store(true);
    bridge_->Detach();
    collector_->Wait();
    collector_.reset();
    bridge_.reset();  // a wake still queued dies with its sender's connection
    state_ = ScanState::Idle;
    QApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------
// Results

void TAppForm::SwitchView(results::ViewMode mode) {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    const QModelIndex current = ListView1->selectionModel()->currentIndex();
    const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
    const int remembered = selected.isEmpty() ? -1 : selected.first().row();
    (void)current;
    switch (mode) {
        case results::ViewMode::Url: lists_.ShowURLs(); break;
        case results::ViewMode::Host: lists_.ShowHostnames(); break;
        case results::ViewMode::Domain: lists_.ShowDomainNames(); break;
    }
    resultsModel_->ResetRowCount(ViewRows(lists_.Current().Size()));
    if (remembered >= 0 && remembered < resultsModel_->RowCount()) {
        const QModelIndex index = resultsModel_->index(remembered, 0);
        ListView1->selectionModel()->setCurrentIndex(
            index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        ListView1->scrollTo(index);
    }
    ListView1->setFocus();
    QApplication::restoreOverrideCursor();
}

void TAppForm::ButtonRemoveDuplicatesClick() {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    {
        static const results::DedupCollator collator;
        lists_.RemoveDuplicates(collator);
    }
    resultsModel_->ResetRowCount(ViewRows(lists_.Current().Size()));
    QApplication::restoreOverrideCursor();
}

void TAppForm::Remove1Click() {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : ListBox1->selectionModel()->selectedRows())
        rows.push_back(static_cast<std::size_t>(index.row()));
    if (rows.empty()) return;
    files_.RemoveAt(std::move(rows));
    filesModel_->Refresh();
}

void TAppForm::Copy1Click() {
    RunCommand(this, [this] {
        const QModelIndexList selected = ListView1->selectionModel()->selectedRows();
        if (selected.isEmpty()) return;
        QGuiApplication::clipboard()->setText(resultsModel_->RowText(selected.first().row()));
    });
}

void TAppForm::Copy2Click() {
    RunCommand(this, [this] {
        const QModelIndex current = ListBox1->currentIndex();
        if (!current.isValid()) return;
        QGuiApplication::clipboard()->setText(current.data(Qt::DisplayRole).toString());
    });
}

bool TAppForm::AskExportFile(QString& path) {
    SaveDialog1->setWindowTitle(QString());
    SaveDialog1->selectNameFilter(SaveDialog1->nameFilters().first());
    const QString last = SaveDialog1->property("lastName").toString();
    if (!last.isEmpty()) SaveDialog1->selectFile(last);
    if (ExecModal(*SaveDialog1) != QDialog::Accepted) return false;
    const QStringList chosen = SaveDialog1->selectedFiles();
    if (chosen.isEmpty()) return false;
    path = chosen.first();
    SaveDialog1->setProperty("lastName", path);
    return true;
}

void TAppForm::ExportFoundFiles1Click() {
    RunCommand(this, [this] {
        QString path;
        if (!AskExportFile(path)) return;
        results::ExportList(files_, ToText(path));
    });
}

void TAppForm::ExportFoundURLs1Click() {
    RunCommand(this, [this] {
        QString path;
        if (!AskExportFile(path)) return;
        results::ExportList(lists_.Current(), ToText(path));
    });
}

// ---------------------------------------------------------------------------
// File-list page, folder picker, drops

void TAppForm::Button4Click() {
    QFileDialog dialog(this, QStringLiteral("Select folder:"));
    dialog.setObjectName(QStringLiteral("FolderPicker"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    dialog.setDirectory(folderPickerStart_);
    if (ExecModal(dialog) != QDialog::Accepted) return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty()) return;
    folderPickerStart_ = QDir::toNativeSeparators(chosen.first());
    Edit8->setText(folderPickerStart_);
}

void TAppForm::Button6Click() {
    files_.Clear();
    filesModel_->Refresh();
}

void TAppForm::Button3Click() {
    QFileDialog dialog(this, QStringLiteral("Select Files"));
    SetUpOpenDialog(dialog, "SelectFilesDialog", QFileDialog::ExistingFiles,
                    {QStringLiteral("Files (*)")});
    if (ExecModal(dialog) != QDialog::Accepted) return;
    for (const QString& path : dialog.selectedFiles()) files_.Append(ToText(path));
    filesModel_->Refresh();
}

void TAppForm::Button5Click() {
    QFileDialog dialog(this, QStringLiteral("Load File List"));
    SetUpOpenDialog(dialog, "LoadFileListDialog", QFileDialog::ExistingFile,
                    {QStringLiteral("TXT File (*.txt)"), QStringLiteral("Any File (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (ExecModal(dialog) != QDialog::Accepted) return;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return;
    RunCommand(this, [&] {
        Lines lines;
        LoadLines(ToText(QDir::toNativeSeparators(chosen.first())), Encoding::Ansi,
                  control_.AnsiCodePage, lines);
        std::vector<Text> entries;
        entries.reserve(lines.Size());
        for (std::size_t i = 0; i < lines.Size(); ++i) entries.emplace_back(lines[i]);
        files_.Assign(entries);
        filesModel_->Refresh();
    });
}

void TAppForm::dragEnterEvent(QDragEnterEvent* event) {
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

void TAppForm::CheckBox1Click() { StoreSetting(SettingKey::IncludeSubfolders, OnOff(CheckBox1->isChecked())); }

void TAppForm::CheckBox2Click() {
    const bool on = CheckBox2->isChecked();
    SpinEdit1->setEnabled(on);
    Label2->setEnabled(on);
    StoreSetting(SettingKey::SkipLargeFiles, OnOff(on));
}

void TAppForm::SpinEdit1Change() {
    StoreSetting(SettingKey::SkipLargeFilesMB, SkipLargeFilesMBToStore(SpinEdit1->text()));
}

void TAppForm::Edit1Change() { StoreSetting(SettingKey::FileMask, Edit1->text()); }

void TAppForm::Edit8Change() { StoreSetting(SettingKey::Folder, Edit8->text()); }

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

void TAppForm::Help2Click() {
    platform::OpenUrl(QUrl(net::HelpAddress(productName_)));  // a failure is ignored
}

void TAppForm::TimerCheckerTimer() {
    if (!checker_) {
        checker_ = std::make_unique<net::TChecker>(
            net::CheckSetup{companyName_, productName_, productTitle_, versionText_, {}, {}, nullptr, 10000},
            [this](const QString& text) { ShowServerMessage(this, text); });
        checker_->start();
        return;
    }
    if (!checker_->Completed()) return;
    TimerChecker->stop();
    UpdateNotifications1->setEnabled(true);
    if (checker_->Results().ShowUpdate == 0) UpdateNotifications1->setChecked(false);
    if (checker_->Results().Notice && !NewVer)
        NewVer = new TNewVer(productName_, checker_->Results().ServerVersion, checker_->Results().DownloadLink, this);
}

void TAppForm::UpdateNotifications1Click() {
    // The item has already toggled its mark; the store follows it.
    const bool on = UpdateNotifications1->isChecked();
    RunCommand(this, [&] {
        platform::ProductStore(companyName_, productName_)
            .WriteString(QStringLiteral("ShowUpdate"), on ? QStringLiteral("1") : QStringLiteral("0"));
    });
}

void TAppForm::PlaceholderWindow(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("PlaceholderBox"));
    ExecModal(box);
}

}  // namespace corvexa::ui
