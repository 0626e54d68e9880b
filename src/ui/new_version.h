#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLabel;
class QPropertyAnimation;
class QPushButton;
class QTimer;

namespace corvexa::ui {

// The update notice: a small frameless window in the top-right corner of the
// primary screen that announces a newer version with a link to its download.
// Always on top, never takes the focus, no taskbar entry. Created hidden; it
// grows into view about 1 ms later and shrinks away when the run-wide
// countdown (11 s) ends. Closing hides it; it lives until its owner goes.
class TNewVer : public QWidget {
    Q_OBJECT
public:
    TNewVer(const QString& productName, const QString& serverVersion, const QString& downloadLink,
            QWidget* mainWindow);
    ~TNewVer() override;

    // The address the link opens: the download link when it is an http or
    // https address, otherwise the maker's home page.
    QString LinkTarget() const;
    // Where the link leads, shown under it before it is followed: the host
    // of LinkTarget(), its end kept when too long for the window (the end
    // names the site: "kelmare.example.evil.test" must not pass for the
    // maker's).
    QString LinkHost() const;

    // The close countdown, shared by the whole run, starting at 11.
    static constexpr int kCloseCountdownStart = 11;
    static int CloseCountdown();
    static void SetCloseCountdownForTesting(int seconds);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(const QString& productName, const QString& serverVersion);  // texts and place
    void BuildLayout();
    void TimerStartTimer();  // shows the notice, sliding it open
    void TimerCloseTimer();  // counts down and closes the notice
    void TimerLinkTimer();   // colours the link under the mouse
    void Label2Click();      // opens the download page and closes
    void Button1Click();     // closes the notice
    bool DragEvent(QEvent* event);
    QRect Collapsed() const;

    QString downloadLink_;
    QPointer<QWidget> mainWindow_;
    QRect home_;  // the window's place once shown
    bool dragging = false;
    bool closing_ = false;  // the countdown has ended
    int dx = 0, dy = 0;

    QWidget* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* LabelHost = nullptr;
    QWidget* Panel3 = nullptr;
    QPushButton* Button1 = nullptr;
    QTimer* TimerStart = nullptr;
    QTimer* TimerClose = nullptr;
    QTimer* TimerLink = nullptr;
    QPropertyAnimation* animation_ = nullptr;
};

// The update check's server message: a warning box titled with the
// translation of "IMPORTANT", the text shown as plain text, one OK button.
void ShowServerMessage(QWidget* parent, const QString& text);

}  // namespace corvexa::ui
