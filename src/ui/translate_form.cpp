#include "ui/translate_form.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QUrl>
#include <algorithm>

#include "i18n/language.h"
#include "i18n/translated_dialog.h"
#include "net/maker_host.h"
#include "platform/desktop.h"
#include "ui/dialogs.h"
#include "ui/language_flags.h"
#include "ui/restart_script.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {
namespace {

using i18n::TranslateText;

constexpr int kClientWidth = 622;
constexpr int kClientHeight = 227;
constexpr int kBarHeight = 39;
constexpr int kFlagSize = 16;  // the image list's size at 96 dpi
constexpr int kItemHeight = 18;

const QString& English() {
    static const QString name = QStringLiteral("English");
    return name;
}

// Trims spaces and control characters at both ends.
QString TrimControls(const QString& s) {
    qsizetype begin = 0, end = s.size();
    while (begin < end && s.at(begin).unicode() <= ' ') ++begin;
    while (end > begin && s.at(end - 1).unicode() <= ' ') --end;
    return s.mid(begin, end - begin);
}

// Draws each language with its flag at the item's left and top and its text
// right of the flag, in the colours the list prepared for the item.
class FlagItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        painter->save();
        painter->fillRect(option.rect, selected ? pal.highlight() : pal.base());
        const QString text = index.data(Qt::DisplayRole).toString();
        const QRect flag(option.rect.left(), option.rect.top(), kFlagSize, kFlagSize);
        FlagIcon(FlagImageName(text)).paint(painter, flag);
        painter->setPen(selected ? pal.color(QPalette::HighlightedText)
                                 : pal.color(QPalette::Text));
        painter->setFont(option.font);
        const QRect textRect = option.rect.adjusted(kFlagSize + 2, 0, 0, 0);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width() + kFlagSize, kItemHeight};
    }
};

}  // namespace

TTranslateForm::TTranslateForm(TranslateFormHost host, QWidget* parent)
    : QDialog(parent), host_(std::move(host)) {
    setObjectName(QStringLiteral("TranslateForm"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont(11));
    setWindowIcon(FlagIcon(QStringLiteral("flag")));
    BuildLayout();
    FormCreate();
}

QString TTranslateForm::TranslationPageAddress() {
    return net::TranslationPage();
}

void TTranslateForm::BuildLayout() {
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(PixelFont(16));
    Label1->setGeometry(3, 6, 258, 22);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(PixelFont(16));
    Label2->setGeometry(3, 39, 258, 22);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setFont(PixelFont(13));
    ComboBox1->setGeometry(263, 4, 355, 24);
    ComboBox1->setIconSize(QSize(kFlagSize, kFlagSize));
    ComboBox1->setItemDelegate(new FlagItemDelegate(ComboBox1));
    ComboBox1->setStyleSheet(
        QStringLiteral("QComboBox { combobox-popup: 0; }"));  // a list below the box
    ComboBox1->setMaxVisibleItems(16);
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComboBox1Change(); });

    RichEdit1 = new QPlainTextEdit(this);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setFont(PixelFont(16));
    RichEdit1->setGeometry(263, 32, 355, 151);
    RichEdit1->setReadOnly(true);
    RichEdit1->setLineWrapMode(QPlainTextEdit::NoWrap);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = RichEdit1->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    RichEdit1->setPalette(pal);
    RichEdit1->setPlainText(QStringLiteral("Kelmare"));
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Copy1 = PopupMenu1->addAction(QIcon(QStringLiteral(":/icons/copy.svg")), QString());
    Copy1->setObjectName(QStringLiteral("Copy1"));
    connect(Copy1, &QAction::triggered, this, [this] { Copy1Click(); });
    SelectAll1 = PopupMenu1->addAction(QString());
    SelectAll1->setObjectName(QStringLiteral("SelectAll1"));
    connect(SelectAll1, &QAction::triggered, this, [this] { SelectAll1Click(); });
    connect(RichEdit1, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu1->popup(RichEdit1->viewport()->mapToGlobal(pos));
    });

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, kClientHeight - kBarHeight, kClientWidth, kBarHeight);
    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setGeometry(0, kClientHeight - kBarHeight - 1, kClientWidth, 1);
    Panel2->setAutoFillBackground(true);
    QPalette line = Panel2->palette();
    line.setColor(QPalette::Window, line.color(QPalette::Mid));
    Panel2->setPalette(line);

    Label3 = new QLabel(Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    Label3->setCursor(Qt::PointingHandCursor);
    Label3->setToolTip(TranslationPageAddress());
    Label3->installEventFilter(this);

    Button1 = new QPushButton(Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(PixelFont(16));
    Button1->setIcon(QIcon(QStringLiteral(":/icons/tick_button.svg")));
    Button1->setIconSize(QSize(kFlagSize, kFlagSize));
    Button1->setGeometry(kClientWidth - 172 - 3, (kBarHeight - 33) / 2, 172, 33);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
}

void TTranslateForm::FormCreate() {
    setWindowTitle(TranslateText(QStringLiteral("Language")));
    Label1->setText(TranslateText(QStringLiteral("User Interface Language:")));
    Label2->setText(TranslateText(QStringLiteral("Translated by:")));
    Button1->setText(TranslateText(QStringLiteral("OK")));
    Label3->setText(TranslateText(QStringLiteral("Contribute to Translation")));
    Label3->adjustSize();
    Label3->move(8, (kBarHeight - Label3->height()) / 2);
    Copy1->setText(TranslateText(QStringLiteral("Copy")));
    SelectAll1->setText(TranslateText(QStringLiteral("Select All")));

    // The design's "English", then one item per language file, kept in
    // alphabetical order; the design's item stays selected while they come in.
    QStringList names{English()};
    for (const QString& file : i18n::Localisation().AvailableFiles) {
        const qsizetype end = file.indexOf(QLatin1String(".lang.txt"));
        names << (end < 0 ? file : file.left(end));
    }
    std::stable_sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    const QSignalBlocker quiet(ComboBox1);
    for (const QString& name : names) ComboBox1->addItem(FlagIcon(FlagImageName(name)), name);
    ComboBox1->setCurrentIndex(
        ComboBox1->findText(English(), Qt::MatchExactly | Qt::MatchCaseSensitive));

    const QString active = i18n::Localisation().ActiveName;
    for (int i = 0; i < ComboBox1->count(); ++i) {
        if (!active.isEmpty() && ComboBox1->itemText(i) == active) {
            ComboBox1->setCurrentIndex(i);
            break;
        }
    }
    ComboBox1Change();
    openingLanguage_ = ComboBox1->currentText();
}

void TTranslateForm::ComboBox1Change() {
    const QString item = ComboBox1->currentText();
    QString translators;
    if (item == English()) {
        translators = QStringLiteral("Kelmare");
    } else {
        try {
            const QStringList lines =
                i18n::ReadLanguageLines(i18n::Localisation().LanguageFolder + QLatin1Char('/') +
                                        item + QStringLiteral(".lang.txt"));
            translators = i18n::TranslateFromList(QStringLiteral("INFO:Translated By"), lines);
        } catch (const i18n::LanguageFileError&) {
            translators.clear();  // an unreadable file lists nobody
        }
    }
    QStringList shown;
    if (!translators.isEmpty())
        for (const QString& piece : translators.split(QLatin1Char(',')))
            shown << TrimControls(piece);
    RichEdit1->setPlainText(shown.join(QLatin1Char('\n')));
}

void TTranslateForm::Button1Click() {
    if (ComboBox1->currentText() == openingLanguage_) {
        accept();
        return;
    }
    const QMessageBox::StandardButton answer = i18n::ShowTranslatedDialog(
        TranslateText(QStringLiteral("Restart Application?")), QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, TranslateText(QStringLiteral("Confirmation")),
        {TranslateText(QStringLiteral("Yes")), TranslateText(QStringLiteral("No"))}, this);
    if (answer != QMessageBox::Yes) return;
    Restart();
}

void TTranslateForm::Restart() {
    if (host_.SetLanguageFile)
        host_.SetLanguageFile(ComboBox1->currentText() + QStringLiteral(".lang.txt"));
    QCoreApplication::processEvents();
    QString script;
    RunCommand(this, [&] { script = WriteRestartScript(host_.DataFolder, host_.ExecutablePath); });
    if (script.isEmpty()) return;  // shown as an error; this instance goes on
    QCoreApplication::processEvents();
    platform::StartDetached(script);  // when it cannot start, the program still ends
    QCoreApplication::processEvents();
    accept();
    if (host_.EndProgram) host_.EndProgram();
}

void TTranslateForm::Label3Click() {
    platform::OpenUrl(QUrl(TranslationPageAddress()));  // a failure is ignored
}

void TTranslateForm::Copy1Click() {
    RichEdit1->copy();
}

void TTranslateForm::SelectAll1Click() {
    RichEdit1->selectAll();
}

bool TTranslateForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        Label3Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace corvexa::ui
