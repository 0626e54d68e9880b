// The main window's layout: the top panel with its two tabs, the files list and
// the results panel side by side, the START panel and the status bar; and the
// wiring of the controls to their handlers.

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "ui/app_form.h"
#include "ui/found_in_panel.h"
#include "ui/list_models.h"
#include "ui/spin_edit.h"
#include "ui/status_line.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {

void TAppForm::BuildLayout() {
    setFont(PixelFont(11));
    auto* central = new QWidget(this);
    auto* column = Box<QVBoxLayout>(central, {0, 0, 0, 0}, 0);
    column->addWidget(BuildTopPanel(central));
    column->addWidget(BuildMiddle(central), 1);
    column->addWidget(BuildBottomPanel(central));
    setCentralWidget(central);
    StatusBar1 = new StatusLine(statusBar());

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
    WireControls();
}

QWidget* TAppForm::BuildTopPanel(QWidget* parent) {
    auto* top = new QWidget(parent);
    top->setFixedHeight(122);
    auto* topLayout = Box<QVBoxLayout>(top, {0, 0, 0, 0}, -1);
    PageControl1 = new QTabWidget(top);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->tabBar()->setFont(PixelFont(16));
    topLayout->addWidget(PageControl1);
    PageControl1->addTab(BuildDirectoryPage(), Icon("folders_explorer"),
                         QStringLiteral("Directory Scan"));
    PageControl1->addTab(BuildFileListPage(), Icon("document-copies-icon"),
                         QStringLiteral("File List"));
    return top;
}

QWidget* TAppForm::BuildDirectoryPage() {
    TabSheet1 = Named<QWidget>("TabSheet1");
    auto* page = Box<QVBoxLayout>(TabSheet1, {4, 2, 4, 2}, 0);

    auto* row1 = new QWidget(TabSheet1);
    row1->setFixedHeight(30);
    auto* row1Layout = Box<QHBoxLayout>(row1, {0, 2, 0, 2}, -1);
    auto* label8 = new QLabel(QStringLiteral("Directory:"), row1);
    label8->setFixedWidth(100);
    label8->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Button4 = Named<QPushButton>("Button4", row1);
    Button4->setFixedSize(32, 26);
    Button4->setIcon(Icon("folder48"));
    Button4->setToolTip(QStringLiteral("Select Directory"));
    Edit8 = Named<QLineEdit>("Edit8", row1);
    Edit8->setFont(PixelFont(16));
    Edit8->setAcceptDrops(false);
    label8->setBuddy(Edit8);
    QAction* recent = Edit8->addAction(Icon("folder48"), QLineEdit::TrailingPosition);
    recent->setObjectName(QStringLiteral("RecentFolders1"));
    recent->setToolTip(QStringLiteral("Recent folders"));
    connect(recent, &QAction::triggered, this, [this] { ShowRecentFolders(); });
    row1Layout->addWidget(label8);
    row1Layout->addWidget(Button4);
    row1Layout->addWidget(Edit8, 1);
    page->addWidget(row1);

    Panel6 = Named<QWidget>("Panel6", TabSheet1);
    Panel6->setFixedHeight(30);
    auto* row2Layout = Box<QHBoxLayout>(Panel6, {0, 2, 0, 2}, -1);
    auto* label1 = new QLabel(QStringLiteral("File Mask:"), Panel6);
    label1->setFixedWidth(100);
    Edit1 = Named<QLineEdit>("Edit1", Panel6);
    Edit1->setText(QString::fromLatin1(Info(SettingKey::FileMask).defaultValue));
    Edit1->setFont(PixelFont(13));
    Edit1->setAcceptDrops(false);
    label1->setBuddy(Edit1);
    row2Layout->addWidget(label1);
    row2Layout->addWidget(Edit1, 1);
    page->addWidget(Panel6);

    auto* row3 = new QWidget(TabSheet1);
    auto* row3Layout = Box<QHBoxLayout>(row3, {0, 2, 0, 0}, 0);
    CheckBox1 = Named<QCheckBox>("CheckBox1", row3);
    CheckBox1->setText(QStringLiteral("Include Subfolders"));
    CheckBox1->setChecked(DefaultOn(SettingKey::IncludeSubfolders));
    CheckBox1->setFixedWidth(200);
    CheckBox2 = Named<QCheckBox>("CheckBox2", row3);
    // Designed unchecked though on by default: the first start writes its key.
    CheckBox2->setText(QStringLiteral("Skip Large Files:"));
    SpinEdit1 = Named<SpinEdit>("SpinEdit1", row3);
    SpinEdit1->setFixedWidth(100);
    SpinEdit1->setFont(PixelFont(12));
    SpinEdit1->setValue(DefaultSkipLargeFilesMB());
    SpinEdit1->setEnabled(false);
    Label2 = Named<QLabel>("Label2", row3);
    Label2->setText(QStringLiteral("MB"));
    Label2->setEnabled(false);
    row3Layout->addSpacing(105);
    row3Layout->addWidget(CheckBox1);
    row3Layout->addWidget(CheckBox2);
    row3Layout->addSpacing(6);
    row3Layout->addWidget(SpinEdit1);
    row3Layout->addSpacing(6);
    row3Layout->addWidget(Label2);
    row3Layout->addStretch(1);
    page->addWidget(row3);
    page->addStretch(1);
    return TabSheet1;
}

QWidget* TAppForm::BuildFileListPage() {
    TabSheet2 = Named<QWidget>("TabSheet2");
    auto* page = Box<QVBoxLayout>(TabSheet2, {0, 2, 0, 2}, 2);
    auto button = [&](const char* name, const char* caption) {
        auto* b = Named<QPushButton>(name, TabSheet2);
        b->setText(QString::fromLatin1(caption));
        b->setFixedSize(198, 25);
        b->setFont(PixelFont(13));
        page->addWidget(b, 0, Qt::AlignLeft);
        return b;
    };
    Button6 = button("Button6", "Clear Files");
    Button3 = button("Button3", "Select Files...");
    Button5 = button("Button5", "Load File List...");
    page->addStretch(1);
    return TabSheet2;
}

// The files panel and the results panel. Neither can be pushed out of sight:
// each keeps a width in which a few entries can still be read.
QSplitter* TAppForm::BuildMiddle(QWidget* parent) {
    Splitter2 = Named<QSplitter>("Splitter2", parent);
    Splitter2->setOrientation(Qt::Horizontal);
    Splitter2->setHandleWidth(5);
    Splitter2->setOpaqueResize(true);
    Splitter2->setChildrenCollapsible(false);
    Splitter2->addWidget(BuildFilesPanel(Splitter2));
    Splitter2->addWidget(BuildResultsPanel(Splitter2));
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    Splitter2->setSizes({379, 400});
    Panel4->hide();
    return Splitter2;
}

QWidget* TAppForm::BuildFilesPanel(QWidget* parent) {
    Panel3 = Named<QWidget>("Panel3", parent);
    Panel3->setMinimumWidth(kMinimumPanelWidth);
    auto* layout = Box<QVBoxLayout>(Panel3, {2, 2, 2, 2}, 2);
    auto* label1 = Named<QLabel>("Label1", Panel3);
    label1->setText(QStringLiteral("Files:"));
    filesModel_ = new FilesModel(files_, this);
    ListBox1 = Named<QListView>("ListBox1", Panel3);
    ListBox1->setModel(filesModel_);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
    // Tab leaves the list for the next control; the arrows move inside it.
    ListBox1->setTabKeyNavigation(false);
    // Entries are dragged out as files, to a file manager or a terminal.
    ListBox1->setDragEnabled(true);
    ListBox1->setDragDropMode(QAbstractItemView::DragOnly);
    layout->addWidget(label1);
    layout->addWidget(ListBox1, 1);
    return Panel3;
}

QWidget* TAppForm::BuildResultsPanel(QWidget* parent) {
    Panel4 = Named<QWidget>("Panel4", parent);
    Panel4->setMinimumWidth(kMinimumPanelWidth);
    auto* layout = Box<QVBoxLayout>(Panel4, {2, 2, 2, 2}, 0);
    Label3 = Named<QLabel>("Label3", Panel4);
    Label3->setText(QStringLiteral("URLs:"));
    Label3->setTextFormat(Qt::PlainText);
    layout->addWidget(Label3);
    auto viewButton = [&](const char* name, const char* caption) {
        auto* b = Named<QPushButton>(name, Panel4);
        b->setText(QString::fromLatin1(caption));
        b->setFixedHeight(25);
        b->setEnabled(false);
        layout->addWidget(b);
        return b;
    };
    ButtonShowURLs = viewButton("ButtonShowURLs", "Show URLs");
    ButtonShowHostnames = viewButton("ButtonShowHostnames", "Show Hostnames");
    ButtonShowDomainNames = viewButton("ButtonShowDomainNames", "Show Domain Names");

    FilterEdit = Named<QLineEdit>("FilterEdit", Panel4);
    FilterEdit->setPlaceholderText(QStringLiteral("Filter"));
    FilterEdit->setClearButtonEnabled(true);
    FilterEdit->setToolTip(QStringLiteral("Show only the entries that contain this text"));
    layout->addWidget(FilterEdit);

    resultsModel_ =
        new ResultsModel([this]() -> const SharedList& { return lists_.Current(); }, this);
    ListView1 = Named<QTableView>("ListView1", Panel4);
    ListView1->setModel(resultsModel_);
    ListView1->horizontalHeader()->hide();
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ListView1->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 4);
    ListView1->setShowGrid(true);
    ListView1->setWordWrap(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setContextMenuPolicy(Qt::CustomContextMenu);
    // A table walks its cells on Tab by default and wraps at the end, so the
    // controls after it could never be reached from the keyboard.
    ListView1->setTabKeyNavigation(false);
    layout->addWidget(ListView1, 1);
    // Where the current entry was found; shown while Settings > Found In is on.
    FoundInPanel1 = new FoundInPanel(Panel4);
    FoundInPanel1->hide();
    layout->addWidget(FoundInPanel1);

    ButtonRemoveDuplicates = Named<QPushButton>("ButtonRemoveDuplicates", Panel4);
    ButtonRemoveDuplicates->setIcon(Icon("database_repeat_delete"));
    ButtonRemoveDuplicates->setText(QStringLiteral("Remove Duplicates"));
    ButtonRemoveDuplicates->setEnabled(false);
    layout->addWidget(ButtonRemoveDuplicates);
    return Panel4;
}

QWidget* TAppForm::BuildBottomPanel(QWidget* parent) {
    auto* panel1 = Named<QWidget>("Panel1", parent);
    panel1->setFixedHeight(40);
    auto* bottom = Box<QHBoxLayout>(panel1, {3, 3, 3, 3}, -1);
    ButtonStart = Named<QPushButton>("ButtonStart", panel1);
    ButtonStart->setIcon(Icon("sign-right"));
    ButtonStart->setText(QStringLiteral("START"));
    ButtonStart->setToolTip(QStringLiteral("Start or stop the scan (F5)"));
    ButtonStart->setFixedSize(150, 34);
    ButtonStart->setFont(PixelFont(13, true));
    ButtonStart->setIconSize(QSize(24, 24));
    bottom->addWidget(ButtonStart);
    bottom->addStretch(1);
    return panel1;
}

void TAppForm::WireControls() {
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
    connect(FilterEdit, &QLineEdit::textChanged, this,
            [this](const QString& t) { FilterChanged(t); });
    // Enter in the folder or the mask field starts the scan.
    for (QLineEdit* field : {Edit8, Edit1})
        connect(field, &QLineEdit::returnPressed, this, [this] {
            if (State() == ScanState::Idle) ButtonStartClick();
        });
    // Double-click or Enter on a finding opens it.
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { OpenFinding(index); });
    ListView1->installEventFilter(this);
    ListBox1->installEventFilter(this);
}

}  // namespace corvexa::ui
