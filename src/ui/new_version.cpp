#include "ui/new_version.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "i18n/language.h"
#include "net/maker_host.h"
#include "platform/desktop.h"
#include "ui/dialogs.h"
#include "ui/widget_kit.h"

namespace corvexa::ui {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 68;
constexpr int kAnimationMs = 100;
int g_closeCountdown = TNewVer::kCloseCountdownStart;

QTimer* MakeTimer(QObject* owner, const char* name, int interval) {
    auto* timer = new QTimer(owner);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    return timer;
}

}  // namespace

int TNewVer::CloseCountdown() {
    return g_closeCountdown;
}
void TNewVer::SetCloseCountdownForTesting(int seconds) {
    g_closeCountdown = seconds;
}

TNewVer::TNewVer(const QString& productName, const QString& serverVersion,
                 const QString& downloadLink, QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                              Qt::WindowDoesNotAcceptFocus),
      downloadLink_(downloadLink),
      mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("NewVer"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFont(PixelFont(11));
    setCursor(Qt::ArrowCursor);
    BuildLayout();
    FormCreate(productName, serverVersion);
    TimerStart->start();
    TimerClose->start();
    TimerLink->start();
}

TNewVer::~TNewVer() = default;

void TNewVer::BuildLayout() {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSizeConstraint(QLayout::SetNoConstraint);  // the window grows and shrinks
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Raised);
    Panel1 = panel;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    outer->addWidget(Panel1);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(66, 66);
    Image1->setContentsMargins(3, 3, 3, 3);
    Image1->setAlignment(Qt::AlignCenter);
    row->addWidget(Image1);

    auto* middle = new QVBoxLayout;
    middle->setContentsMargins(3, 3, 3, 3);
    middle->setSpacing(0);
    Label1 = new QLabel(Panel1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(PixelFont(13, true));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setTextFormat(Qt::PlainText);
    middle->addWidget(Label1);
    Label2 = new QLabel(Panel1);
    Label2->setObjectName(QStringLiteral("Label2"));
    QFont link = PixelFont(13);
    link.setUnderline(true);
    Label2->setFont(link);
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setWordWrap(true);
    Label2->setTextFormat(Qt::PlainText);  // the server's version is never markup
    Label2->setCursor(Qt::PointingHandCursor);
    Label2->setAutoFillBackground(false);
    middle->addWidget(Label2, 1);
    LabelHost = new QLabel(Panel1);
    LabelHost->setObjectName(QStringLiteral("LabelHost"));
    LabelHost->setFont(PixelFont(10));
    LabelHost->setAlignment(Qt::AlignCenter);
    LabelHost->setTextFormat(Qt::PlainText);
    middle->addWidget(LabelHost);
    row->addLayout(middle, 1);

    Panel3 = new QWidget(Panel1);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setFixedWidth(22);
    auto* right = new QVBoxLayout(Panel3);
    right->setContentsMargins(0, 0, 0, 0);
    Button1 = new QPushButton(Panel3);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFixedSize(22, 22);
    Button1->setIcon(QIcon(QStringLiteral(":/icons/close.svg")));
    Button1->setIconSize(QSize(16, 16));
    Button1->setCursor(Qt::PointingHandCursor);
    Button1->setFocusPolicy(Qt::NoFocus);
    right->addWidget(Button1);
    right->addStretch(1);
    row->addWidget(Panel3);

    TimerStart = MakeTimer(this, "TimerStart", 1);
    TimerClose = MakeTimer(this, "TimerClose", 1000);
    TimerLink = MakeTimer(this, "TimerLink", 100);
    connect(TimerStart, &QTimer::timeout, this, [this] { TimerStartTimer(); });
    connect(TimerClose, &QTimer::timeout, this, [this] { TimerCloseTimer(); });
    connect(TimerLink, &QTimer::timeout, this, [this] { TimerLinkTimer(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    for (QWidget* w : {static_cast<QWidget*>(this), Panel1, static_cast<QWidget*>(Image1),
                       static_cast<QWidget*>(Label1), Panel3})
        w->installEventFilter(this);
    Label2->installEventFilter(this);
    animation_ = new QPropertyAnimation(this, "geometry", this);
    animation_->setDuration(kAnimationMs);
}

void TNewVer::FormCreate(const QString& productName, const QString& serverVersion) {
    Image1->setPixmap(QIcon(QStringLiteral(":/icons/corvexa.svg")).pixmap(60, 60));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    home_ = QRect(screen.left() + screen.width() - kWidth - 5, screen.top() + 5, kWidth, kHeight);
    setGeometry(home_);
    Label1->setText(i18n::TranslateText(QStringLiteral("UPDATE AVAILABLE")));
    Label2->setText(i18n::TranslateText(QStringLiteral("Click to download")) + QLatin1Char(' ') +
                    productName + QLatin1Char(' ') + serverVersion);
    // Where a click leads is said before the click: the host below the link,
    // the whole address on the link's tool tip.
    const QString target = LinkTarget();
    Label2->setToolTip(target);
    const QFontMetrics metrics(LabelHost->font());
    LabelHost->setText(metrics.elidedText(LinkHost(), Qt::ElideLeft, kWidth - 66 - 22 - 12));
    LabelHost->setToolTip(target);
    TimerLinkTimer();
}

QRect TNewVer::Collapsed() const {
    return QRect(home_.center(), QSize(1, 1));
}

void TNewVer::TimerStartTimer() {
    TimerStart->stop();
    animation_->stop();
    setGeometry(Collapsed());
    const bool mainHadFocus = mainWindow_ && mainWindow_->isActiveWindow();
    show();
    animation_->setStartValue(Collapsed());
    animation_->setEndValue(home_);
    animation_->start();
    // The main window keeps the keyboard focus (a window system that activates
    // every window it shows is answered at once); a failure is of no matter.
    if (mainHadFocus && mainWindow_) mainWindow_->activateWindow();
}

void TNewVer::TimerCloseTimer() {
    if (--g_closeCountdown > 0) return;
    TimerClose->stop();
    if (!isVisible()) {
        close();
        return;
    }
    closing_ = true;  // no drag interrupts the shrinking
    animation_->stop();
    home_ = geometry();
    animation_->setStartValue(home_);
    animation_->setEndValue(Collapsed());
    connect(
        animation_, &QPropertyAnimation::finished, this, [this] { close(); },
        Qt::SingleShotConnection);
    animation_->start();
}

void TNewVer::TimerLinkTimer() {
    const bool inside = Label2->rect().contains(Label2->mapFromGlobal(QCursor::pos()));
    const QPalette style = QApplication::palette();
    QPalette palette = Label2->palette();
    palette.setColor(QPalette::WindowText,
                     inside ? style.color(QPalette::Highlight) : style.color(QPalette::WindowText));
    Label2->setPalette(palette);
}

QString TNewVer::LinkTarget() const {
    const QUrl url(downloadLink_.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && !url.host().isEmpty() &&
        (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")))
        return url.toString();
    return net::HomePage();
}

QString TNewVer::LinkHost() const {
    const QUrl url(LinkTarget());
    // The host as the browser will reach it, port included when given.
    QString host = url.host(QUrl::FullyEncoded);
    if (url.port() >= 0) host += QLatin1Char(':') + QString::number(url.port());
    return host;
}

void TNewVer::Label2Click() {
    platform::OpenUrl(QUrl(LinkTarget()));  // nothing is reported when it cannot be opened
    close();
}

void TNewVer::Button1Click() {
    animation_->stop();
    close();
}

bool TNewVer::DragEvent(QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint global = mouse->globalPosition().toPoint();
    switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (mouse->button() == Qt::RightButton || closing_) return false;
            dx = global.x();
            dy = global.y();
            dragging = true;
            return true;
        case QEvent::MouseMove:
            if (!dragging) return false;
            animation_->stop();
            move(pos() + QPoint(global.x() - dx, global.y() - dy));
            home_ = geometry();
            dx = global.x();
            dy = global.y();
            return true;
        case QEvent::MouseButtonRelease:
            dragging = false;
            return true;
        default:
            return false;
    }
}

bool TNewVer::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    const bool mouse = type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
                       type == QEvent::MouseButtonRelease;
    if (watched == Label2) {
        // The link opens on a left click and never starts a drag.
        if (type == QEvent::MouseButtonRelease) {
            auto* release = static_cast<QMouseEvent*>(event);
            if (release->button() == Qt::LeftButton &&
                Label2->rect().contains(release->position().toPoint()))
                Label2Click();
        }
        return mouse;
    }
    if (mouse) return DragEvent(event);
    return QWidget::eventFilter(watched, event);
}

namespace {

// A long text would make the box taller than the screen, its OK button out of
// reach: its label goes into a scroll area no larger than half the screen.
void ScrollLongText(QMessageBox& box, const QString& text, QWidget* parent) {
    constexpr qsizetype kShortText = 500;
    constexpr qsizetype kShortLines = 15;
    if (text.size() <= kShortText && text.count(QLatin1Char('\n')) <= kShortLines) return;
    auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    const int index = label && grid ? grid->indexOf(label) : -1;
    if (index < 0) {
        box.setText(text.left(kShortText) +
                    QChar(0x2026));  // no label to scroll: the beginning only
        return;
    }
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    grid->removeWidget(label);
    label->setWordWrap(true);
    auto* scroll = new QScrollArea(&box);
    scroll->setObjectName(QStringLiteral("ServerMessageScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(label);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 800, 600);
    scroll->setMinimumSize(std::min(480, area.width() / 2), std::min(240, area.height() / 3));
    scroll->setMaximumSize(area.width() * 3 / 4, area.height() / 2);
    grid->addWidget(scroll, row, column, rows, columns);
}

}  // namespace

void ShowServerMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, i18n::TranslateText(QStringLiteral("IMPORTANT")), text,
                    QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ServerMessageBox"));
    box.setTextFormat(
        Qt::PlainText);  // whatever the server sends is shown as it is, never as markup
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    ScrollLongText(box, text, parent);
    ExecModal(box);
}

}  // namespace corvexa::ui
