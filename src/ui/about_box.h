#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>

#include "ui/matrix_rain.h"

class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;

namespace corvexa::ui {

// What the about window shows and where it finds the licence text.
struct AboutBoxInfo {
    QString ProductName;
    QString VersionText;
    QString ExecutableFolder;  // ends with '/': holds license.txt
};

// The about window: icon, logo, product name and version, OK, the Info menu
// (acknowledgements, uninstall help, the licence text), a link to the maker's
// site; dragged by its body; falling letters around the content and a picture
// revealed by a double-click on the icon. Created anew each time, shown modally.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(AboutBoxInfo info, QWidget* parent = nullptr);

    // "About %s" after translation, with the first "%s" replaced by the product
    // name ("%%" stands for "%"); a translation without "%s" stands alone.
    static QString FormatTitle(const QString& format, const QString& productName);

    // Pages on the maker's host.
    static QString HomePageAddress();
    static QString CreditsAddress();
    static QString UninstallAddress();

    // The Info menu runs modally; when set, called with the menu once it is
    // shown, from inside its loop, to answer it as a user would.
    static void SetMenuHookForTesting(std::function<void(QMenu*)> hook);
    // Milliseconds of the clock that the Info button's 100 ms rule reads.
    static void SetClockForTesting(std::function<std::uint32_t()> clock);

    const MatrixRain& Rain() const { return rain_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildPanel();
    void FormCreate();                  // starts the letters and fills in the texts
    void HighDPIImageYukle();           // loads the pictures for the screen's pixel ratio
    void tmTimerTimer();                // moves the falling letters one step
    void TimerEggTimer();               // slides the panel aside
    void Image1DblClick();              // shows the hidden panel
    void ImageEggDblClick();            // hides it again
    void BitBtn2Click();                // opens the Info menu
    void Label5Click();                 // opens the home page
    void Credits1Click();               // opens the credits page
    void Howtouninstall1Click();        // opens the uninstall page
    void LicensePrivacyPolicy1Click();  // shows the licence
    bool DragEvent(QEvent* event);

    AboutBoxInfo info_;
    MatrixRain rain_;
    qreal imagesRatio_ = 0;  // the pixel ratio the pictures were made for
    bool dragging = false;
    QPoint lastDragPos_;
    // The Info button's last menu: which button, which menu, when it closed.
    QPointer<QPushButton> menuButton_;
    QPointer<QMenu> menuShown_;
    std::uint32_t menuClosedAt_ = 0;

    // Controls, named as in the window's design.
    QWidget* PanelEgg = nullptr;
    QLabel* ImageEgg = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Image2 = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
    QLabel* Label5 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Credits1 = nullptr;
    QAction* Howtouninstall1 = nullptr;
    QAction* LicensePrivacyPolicy1 = nullptr;
    QTimer* tmTimer = nullptr;
    QTimer* TimerEgg = nullptr;
};

}  // namespace corvexa::ui
