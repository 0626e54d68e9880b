#include "ui/about_box.h"

#include <QAction>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>
#include <QTimer>
#include <QUrl>

#include "i18n/language.h"
#include "net/maker_host.h"
#include "platform/desktop.h"
#include "platform/tick.h"
#include "ui/dialogs.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {
namespace {

using i18n::TranslateText;

constexpr int kClientWidth = 446;
constexpr int kClientHeight = 374;
constexpr int kEggWidth = 324;
constexpr int kEggHeight = 220;
constexpr std::uint32_t kMenuReopenMs = 100;

std::function<void(QMenu*)>& MenuHook() {
    static std::function<void(QMenu*)> hook;
    return hook;
}

std::function<std::uint32_t()>& Clock() {
    static std::function<std::uint32_t()> clock;
    return clock;
}

std::uint32_t Now() {
    return Clock() ? Clock()() : platform::TickCount32();
}

// A picture of the program's resources drawn at a logical size for a pixel
// ratio: stretched to the size, sharp on any screen.
QPixmap Picture(const QString& resource, QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QSvgRenderer(resource).render(&p);
    p.end();
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QLabel* WhiteLabel(QWidget* parent, const char* name, int pixels) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(PixelFont(pixels));
    label->setStyleSheet(QStringLiteral("color: white; background: transparent;"));
    return label;
}

QPushButton* DarkButton(QWidget* parent, const char* name, QRect place) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFont(PixelFont(16));
    button->setGeometry(place);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #202020; border: 1px solid #707070; }"
        "QPushButton:focus { border: 1px solid #00C000; }"
        "QPushButton:pressed { background: #404040; }"));
    return button;
}

}  // namespace

TAboutBox::TAboutBox(AboutBoxInfo info, QWidget* parent) : QDialog(parent), info_(std::move(info)) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    BuildLayout();
    FormCreate();
}

QString TAboutBox::FormatTitle(const QString& format, const QString& productName) {
    QString out;
    bool placed = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar next = format.at(i + 1);
            if (next == QLatin1Char('%')) {
                out += c;
                ++i;
                continue;
            }
            if (next == QLatin1Char('s') && !placed) {
                out += productName;
                placed = true;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString TAboutBox::HomePageAddress() {
    return net::HomePage();
}

QString TAboutBox::CreditsAddress() {
    return net::CreditsPage();
}

QString TAboutBox::UninstallAddress() {
    return net::UninstallPage();
}

void TAboutBox::SetMenuHookForTesting(std::function<void(QMenu*)> hook) {
    MenuHook() = std::move(hook);
}

void TAboutBox::SetClockForTesting(std::function<std::uint32_t()> clock) {
    Clock() = std::move(clock);
}

void TAboutBox::BuildLayout() {
    // The hidden picture lies beneath the content panel, centred.
    PanelEgg = new QWidget(this);
    PanelEgg->setObjectName(QStringLiteral("PanelEgg"));
    PanelEgg->resize(kEggWidth, kEggHeight);
    PanelEgg->hide();
    ImageEgg = new QLabel(PanelEgg);
    ImageEgg->setObjectName(QStringLiteral("ImageEgg"));
    ImageEgg->setGeometry(2, 0, kEggWidth - 4, kEggHeight);
    ImageEgg->setScaledContents(true);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(48, 42, 350, 291);
    Panel1->setAutoFillBackground(true);
    QPalette black = Panel1->palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, Qt::white);
    Panel1->setPalette(black);
    BuildPanel();

    tmTimer = new QTimer(this);
    tmTimer->setObjectName(QStringLiteral("tmTimer"));
    connect(tmTimer, &QTimer::timeout, this, [this] { tmTimerTimer(); });
    TimerEgg = new QTimer(this);
    TimerEgg->setObjectName(QStringLiteral("TimerEgg"));
    TimerEgg->setInterval(5);
    connect(TimerEgg, &QTimer::timeout, this, [this] { TimerEggTimer(); });

    for (QObject* o :
         {static_cast<QObject*>(this), static_cast<QObject*>(Panel1), static_cast<QObject*>(Image1),
          static_cast<QObject*>(Image2), static_cast<QObject*>(Label2),
          static_cast<QObject*>(ImageEgg), static_cast<QObject*>(Label5)})
        o->installEventFilter(this);
}

void TAboutBox::BuildPanel() {
    Image2 = new QLabel(Panel1);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(3, 0, 344, 105);
    Image2->setScaledContents(true);

    Bevel1 = new QFrame(Panel1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Raised);
    Bevel1->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #606060; }"));
    Bevel1->setGeometry(9, 122, 34, 34);
    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(10, 123, 32, 32);

    Label2 = WhiteLabel(Panel1, "Label2", 16);
    Label2->setGeometry(49, 122, 290, 40);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    BitBtn1 = DarkButton(Panel1, "BitBtn1", QRect(49, 224, 122, 33));
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    BitBtn2 = DarkButton(Panel1, "BitBtn2", QRect(177, 224, 122, 33));
    BitBtn2->setIcon(QIcon(QStringLiteral(":/icons/arrow.svg")));
    BitBtn2->setLayoutDirection(Qt::RightToLeft);  // the arrow at the right
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    BitBtn1->setDefault(true);
    BitBtn1->setFocus();

    Label5 = new QLabel(Panel1);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setFont(PixelFont(11));
    Label5->setStyleSheet(
        QStringLiteral("color: lime; text-decoration: underline; background: transparent;"));
    Label5->setAlignment(Qt::AlignCenter);
    Label5->setGeometry(0, 291 - 20, 350, 16);
    Label5->setCursor(Qt::PointingHandCursor);
    Label5->setText(net::MakerHost());
    Label5->setToolTip(HomePageAddress());

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Credits1 = PopupMenu1->addAction(QString());
    Credits1->setObjectName(QStringLiteral("Credits1"));
    connect(Credits1, &QAction::triggered, this, [this] { Credits1Click(); });
    Howtouninstall1 = PopupMenu1->addAction(QString());
    Howtouninstall1->setObjectName(QStringLiteral("Howtouninstall1"));
    connect(Howtouninstall1, &QAction::triggered, this, [this] { Howtouninstall1Click(); });
    LicensePrivacyPolicy1 = PopupMenu1->addAction(QString());
    LicensePrivacyPolicy1->setObjectName(QStringLiteral("LicensePrivacyPolicy1"));
    connect(LicensePrivacyPolicy1, &QAction::triggered, this,
            [this] { LicensePrivacyPolicy1Click(); });
}

void TAboutBox::FormCreate() {
    rain_.Start(width(), height(), devicePixelRatioF());
    tmTimer->start(50);
    setWindowTitle(FormatTitle(TranslateText(QStringLiteral("About %s")), info_.ProductName));
    Label2->setText(info_.ProductName + QLatin1Char(' ') + info_.VersionText);
    BitBtn1->setText(TranslateText(QStringLiteral("OK")));
    BitBtn2->setText(TranslateText(QStringLiteral("Info")));
    Credits1->setText(TranslateText(QStringLiteral("Acknowledgements...")));
    Howtouninstall1->setText(TranslateText(QStringLiteral("How to uninstall...")));
    LicensePrivacyPolicy1->setText(TranslateText(QStringLiteral("License...")));
    HighDPIImageYukle();
    PanelEgg->move((width() - PanelEgg->width()) / 2, (height() - PanelEgg->height()) / 2);
}

// The pictures at the resolution of the window's screen; again after a change.
void TAboutBox::HighDPIImageYukle() {
    imagesRatio_ = devicePixelRatioF();
    Image1->setPixmap(
        QIcon(QStringLiteral(":/icons/corvexa.svg")).pixmap(QSize(32, 32), imagesRatio_));
    Image2->setPixmap(
        Picture(QStringLiteral(":/pictures/kelmare-logo.svg"), Image2->size(), imagesRatio_));
    ImageEgg->setPixmap(
        Picture(QStringLiteral(":/pictures/cat.svg"), ImageEgg->size(), imagesRatio_));
}

void TAboutBox::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (!qFuzzyCompare(ratio, rain_.PixelRatio())) rain_.SetUp(ratio);
    if (!qFuzzyCompare(ratio, imagesRatio_))
        QMetaObject::invokeMethod(
            this, [this] { HighDPIImageYukle(); }, Qt::QueuedConnection);
    QPainter p(this);
    p.drawImage(QPoint(0, 0), rain_.Image());
}

void TAboutBox::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    rain_.SetUp(devicePixelRatioF());
}

// Only the area the letters show in is painted again: the panels stay as they are.
void TAboutBox::tmTimerTimer() {
    rain_.Step();
    QRegion dirty(rect());
    dirty -= Panel1->geometry();
    if (PanelEgg->isVisible()) dirty -= PanelEgg->geometry();
    update(dirty);
}

void TAboutBox::TimerEggTimer() {
    Panel1->move(Panel1->x() + 5, Panel1->y());
    if (Panel1->x() > width()) TimerEgg->stop();
}

void TAboutBox::Image1DblClick() {
    if (TimerEgg->isActive()) return;
    PanelEgg->show();
    PanelEgg->lower();
    TimerEgg->start();
}

void TAboutBox::ImageEggDblClick() {
    if (TimerEgg->isActive()) return;
    PanelEgg->hide();
    Panel1->move((width() - Panel1->width()) / 2, Panel1->y());
}

// The click that closes the open menu (within 100 ms of its closing) does not
// open it again.
void TAboutBox::BitBtn2Click() {
    if (menuButton_ == BitBtn2 && menuShown_ == PopupMenu1 &&
        Now() - menuClosedAt_ < kMenuReopenMs) {
        menuButton_ = nullptr;
        menuShown_ = nullptr;
        return;
    }
    if (MenuHook()) {
        QPointer<QMenu> guard(PopupMenu1);
        QMetaObject::invokeMethod(
            PopupMenu1,
            [guard] {
                if (guard && MenuHook()) MenuHook()(guard.data());
            },
            Qt::QueuedConnection);
    }
    PopupMenu1->exec(BitBtn2->mapToGlobal(QPoint(0, BitBtn2->height())));
    menuButton_ = BitBtn2;
    menuShown_ = PopupMenu1;
    menuClosedAt_ = Now();
}

void TAboutBox::Label5Click() {
    platform::OpenUrl(QUrl(HomePageAddress()));
}

void TAboutBox::Credits1Click() {
    platform::OpenUrl(QUrl(CreditsAddress()));
}

void TAboutBox::Howtouninstall1Click() {
    platform::OpenUrl(QUrl(UninstallAddress()));
}

void TAboutBox::LicensePrivacyPolicy1Click() {
    const QString path = info_.ExecutableFolder + QStringLiteral("license.txt");
    if (QFileInfo(path).isFile()) {
        platform::OpenUrl(
            QUrl::fromLocalFile(path));  // the desktop's text viewer; failures are ignored
        return;
    }
    QMessageBox box(QMessageBox::Critical, TranslateText(QStringLiteral("License")),
                    TranslateText(QStringLiteral("File not found!")), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("LicenseMissingBox"));
    ExecModal(box);
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == Image1) Image1DblClick();
        if (watched == ImageEgg) ImageEggDblClick();
        if (watched == Image1 || watched == ImageEgg) return true;
    }
    if (watched == Label5) {  // a link: clicked, never dragged
        switch (event->type()) {
            case QEvent::MouseButtonRelease:
                if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) Label5Click();
                return true;
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick:
            case QEvent::MouseMove:
                return true;
            default:
                return QDialog::eventFilter(watched, event);
        }
    }
    if (DragEvent(event)) return true;
    return QDialog::eventFilter(watched, event);
}

// Any button but the right one starts a drag on the body; the window follows
// the cursor until the button is released.
bool TAboutBox::DragEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* e = static_cast<QMouseEvent*>(event);
            if (e->button() == Qt::RightButton) return false;
            dragging = true;
            lastDragPos_ = e->globalPosition().toPoint();
            return true;
        }
        case QEvent::MouseMove: {
            if (!dragging) return false;
            const QPoint now = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            move(pos() + (now - lastDragPos_));
            lastDragPos_ = now;
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (!dragging) return false;
            dragging = false;
            return true;
        default:
            return false;
    }
}

}  // namespace corvexa::ui
