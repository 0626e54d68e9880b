// The about window, driven offscreen: its texts, the Info menu and its 100 ms
// rule, the pages and the licence text, dragging, the falling letters and the
// hidden picture's slide.

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "i18n/language.h"
#include "support/window_test_support.h"
#include "ui/about_box.h"
#include "ui/app_form.h"
#include "ui/dialogs.h"
#include "ui/matrix_rain.h"

using corvexa::test::Find;
using corvexa::test::UrlCatcher;
using corvexa::test::WriteAll;
using corvexa::ui::AboutBoxInfo;
using corvexa::ui::MatrixRain;
using corvexa::ui::TAboutBox;

namespace {

// Every pixel of a cell: black, or the colour scaled by the letter's coverage;
// lit when some pixel has at least half the colour.
bool CellInColour(const QImage& image, int column, int row, QRgb colour, bool* lit) {
    *lit = false;
    for (int y = row * 12; y < row * 12 + 12; ++y) {
        for (int x = column * 8; x < column * 8 + 8; ++x) {
            const QRgb p = image.pixel(x, y);
            if (qGray(p) == 0) continue;
            if (qGreen(p) > qGreen(colour)) return false;
            // red and blue in the colour's proportion to green
            const double k = double(qGreen(p)) / qGreen(colour);
            if (std::abs(qRed(p) - k * qRed(colour)) > 2.5 ||
                std::abs(qBlue(p) - k * qBlue(colour)) > 2.5)
                return false;
            if (2 * qGreen(p) >= qGreen(colour)) *lit = true;  // at least half covered
        }
    }
    return true;
}

bool CellBlack(const QImage& image, int column, int row) {
    for (int y = row * 12; y < row * 12 + 12; ++y)
        for (int x = column * 8; x < column * 8 + 8; ++x)
            if (qGray(image.pixel(x, y)) != 0) return false;
    return true;
}

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<corvexa::test::WindowEnvironment> window_;
    QStringList boxes_;  // "<title>|<text>" of message boxes
    std::uint32_t now_ = 1000;

    QString ExeFolder() const { return window_->env.ExecutableFolder; }

    std::unique_ptr<TAboutBox> MakeBox(const QString& product = QStringLiteral("Corvexa"),
                                       const QString& version = QStringLiteral("2.5")) {
        auto box = std::make_unique<TAboutBox>(AboutBoxInfo{product, version, ExeFolder()});
        box->show();
        if (!QTest::qWaitForWindowExposed(box.get())) qWarning("window not exposed");
        return box;
    }

    static void DoubleClick(QWidget* w) { QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(5, 5)); }

private slots:
    void init() {
        window_ = std::make_unique<corvexa::test::WindowEnvironment>();
        QVERIFY(window_->IsValid());
        boxes_.clear();
        now_ = 1000;
        window_->seams.SetAboutClock([this] { return now_; });
        window_->seams.AnswerDialogs([this](QDialog* d) {
            if (auto* box = qobject_cast<QMessageBox*>(d)) {
                boxes_ << box->windowTitle() + QLatin1Char('|') + box->text();
                box->done(QMessageBox::Ok);
            } else {
                d->reject();
            }
        });
    }

    void cleanup() {
        corvexa::i18n::LoadLanguageFrom(QString(), QString(), 0);
        window_.reset();
    }

    void formatsTheTitle_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::newRow("English") << "About %s"
                                 << "Corvexa"
                                 << "About Corvexa";
        QTest::newRow("empty product name") << "About %s"
                                            << ""
                                            << "About ";
        QTest::newRow("translation without %s") << "\u00dcber das Programm"
                                                << "Corvexa"
                                                << "\u00dcber das Programm";
        QTest::newRow("name first") << "%s \u2013 Info"
                                    << "Corvexa"
                                    << "Corvexa \u2013 Info";
        QTest::newRow("a second %s stays") << "%s %s"
                                           << "Corvexa"
                                           << "Corvexa %s";
        QTest::newRow("%% is a percent sign") << "100%% %s"
                                              << "Corvexa"
                                              << "100% Corvexa";
    }

    void formatsTheTitle() {
        QFETCH(QString, format);
        QFETCH(QString, product);
        QFETCH(QString, title);
        QCOMPARE(TAboutBox::FormatTitle(format, product), title);
    }

    void showsNameVersionAndTranslatedTexts_data() {
        QTest::addColumn<QByteArray>("language");  // German.lang.txt, active; empty: none
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QStringList>("captions");  // OK, Info, the three menu items
        const QStringList english{"OK", "Info", "Acknowledgements...", "How to uninstall...",
                                  "License..."};
        QTest::newRow("English, version 2.5") << QByteArray() << "Corvexa"
                                              << "About Corvexa"
                                              << "Corvexa 2.5" << english;
        QTest::newRow("empty product name") << QByteArray() << ""
                                            << "About "
                                            << " 2.5" << english;
        QTest::newRow("German")
            << QByteArray(
                   "{About %s}\xC3\x9C"
                   "ber %s\r\n{OK}Gut\r\n{Info}Mehr\r\n"
                   "{Acknowledgements...}Dank...\r\n{How to uninstall...}Entfernen...\r\n"
                   "{License...}Lizenz...\r\n")
            << "Corvexa"
            << "\u00dcber Corvexa"
            << "Corvexa 2.5" << QStringList{"Gut", "Mehr", "Dank...", "Entfernen...", "Lizenz..."};
        QTest::newRow("German title without %s") << QByteArray("{About %s}Info\r\n") << "Corvexa"
                                                 << "Info"
                                                 << "Corvexa 2.5" << english;
    }

    void showsNameVersionAndTranslatedTexts() {
        QFETCH(QByteArray, language);
        QFETCH(QString, product);
        QFETCH(QString, title);
        QFETCH(QString, label);
        QFETCH(QStringList, captions);
        if (!language.isEmpty()) {
            WriteAll(ExeFolder() + "Languages/German.lang.txt", language);
            corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("German.lang.txt"), 0);
        }
        auto box = MakeBox(product);
        QCOMPARE(box->windowTitle(), title);
        QCOMPARE(Find<QLabel>(*box, "Label2")->text(), label);
        QCOMPARE(QStringList({Find<QPushButton>(*box, "BitBtn1")->text(),
                              Find<QPushButton>(*box, "BitBtn2")->text(),
                              Find<QAction>(*box, "Credits1")->text(),
                              Find<QAction>(*box, "Howtouninstall1")->text(),
                              Find<QAction>(*box, "LicensePrivacyPolicy1")->text()}),
                 captions);
        QCOMPARE(box->size(), QSize(446, 374));
        QVERIFY(box->windowFlags() & Qt::Tool);
    }

    void okAndEscapeClose_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("click");  // else Escape with the focus on it
        QTest::newRow("OK clicked") << "BitBtn1" << true;
        QTest::newRow("Escape on OK") << "BitBtn1" << false;
        QTest::newRow("Escape on Info") << "BitBtn2" << false;
    }

    void okAndEscapeClose() {
        QFETCH(QString, button);
        QFETCH(bool, click);
        auto box = MakeBox();
        auto* b = Find<QPushButton>(*box, button.toLatin1().constData());
        if (click) {
            QTest::mouseClick(b, Qt::LeftButton);
        } else {
            b->setFocus();
            QTest::keyClick(b, Qt::Key_Escape);
        }
        QVERIFY(!box->isVisible());
    }

    // A click within 100 ms of the menu's closing is the click that closed it:
    // it opens nothing, once; later clicks open the menu again.
    void infoMenuIsNotReopenedByTheClickThatClosedIt() {
        auto box = MakeBox();
        auto* info = Find<QPushButton>(*box, "BitBtn2");
        QList<QPoint> shownAt;
        window_->seams.AnswerAboutMenu([&](QMenu* menu) {
            shownAt << menu->pos();
            menu->close();
        });
        const struct {
            std::uint32_t at;
            int shown;  // menus shown so far
        } clicks[] = {
            {1000, 1},         // opens; closes at 1000
            {1099, 1},         // within 100 ms: nothing, and the rule is spent
            {1099, 2},         // opens again; closes at 1099
            {1199, 3},         // 100 ms after: opens
            {0xFFFFFFF0u, 4},  // the clock wraps between opening and the next click
        };
        for (const auto& c : clicks) {
            now_ = c.at;
            QTest::mouseClick(info, Qt::LeftButton);
            QCOMPARE(shownAt.size(), c.shown);
        }
        now_ = 0x20;  // 48 ms after the last close, across the wrap
        QTest::mouseClick(info, Qt::LeftButton);
        QCOMPARE(shownAt.size(), 4);
        QCOMPARE(shownAt.first(), info->mapToGlobal(QPoint(0, info->height())));
    }

    void pagesOpenOnTheMakersHost_data() {
        QTest::addColumn<QString>("item");  // a menu item, or Label5
        QTest::addColumn<QString>("address");
        QTest::newRow("link") << "Label5"
                              << "https://127.0.0.1:9/";
        QTest::newRow("acknowledgements")
            << "Credits1"
            << "https://127.0.0.1:9/blog/credits-and-acknowledgements/";
        QTest::newRow("uninstall") << "Howtouninstall1"
                                   << "https://127.0.0.1:9/blog/how-to-uninstall-kelmare-software/";
    }

    void pagesOpenOnTheMakersHost() {
        QFETCH(QString, item);
        QFETCH(QString, address);
        qputenv("CORVEXA_MAKER_HOST", "127.0.0.1:9");
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        auto box = MakeBox();
        if (item == QLatin1String("Label5")) {
            QCOMPARE(Find<QLabel>(*box, "Label5")->toolTip(),
                     QStringLiteral("https://127.0.0.1:9/"));
            QTest::mouseClick(Find<QLabel>(*box, "Label5"), Qt::LeftButton);
        } else {
            window_->seams.AnswerAboutMenu([&](QMenu* menu) {
                menu->setActiveAction(menu->findChild<QAction*>(item));
                QTest::keyClick(menu, Qt::Key_Return);
            });
            QTest::mouseClick(Find<QPushButton>(*box, "BitBtn2"), Qt::LeftButton);
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        qunsetenv("CORVEXA_MAKER_HOST");
        QCOMPARE(catcher.urls, QList<QUrl>({QUrl(address)}));
        QVERIFY(box->isVisible());
    }

    void licenseTextPresentOrMissing_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("german");
        QTest::newRow("present") << true << false;
        QTest::newRow("missing") << false << false;
        QTest::newRow("missing, German") << false << true;
        QTest::newRow("a folder of that name") << false << false;
    }

    void licenseTextPresentOrMissing() {
        QFETCH(bool, present);
        QFETCH(bool, german);
        const QString license = ExeFolder() + QStringLiteral("license.txt");
        if (present) WriteAll(license, "the terms\n");
        if (QByteArray(QTest::currentDataTag()) == "a folder of that name") QDir().mkpath(license);
        if (german) {
            WriteAll(ExeFolder() + "Languages/German.lang.txt",
                     "{License}Lizenz\r\n{File not found!}Datei nicht gefunden!\r\n");
            corvexa::i18n::LoadLanguageFrom(ExeFolder(), QStringLiteral("German.lang.txt"), 0);
        }
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        auto box = MakeBox();
        Find<QAction>(*box, "LicensePrivacyPolicy1")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        if (present) {
            QCOMPARE(catcher.urls, QList<QUrl>({QUrl::fromLocalFile(license)}));
            QVERIFY(boxes_.isEmpty());
        } else {
            QVERIFY(catcher.urls.isEmpty());
            QCOMPARE(boxes_, QStringList(german ? "Lizenz|Datei nicht gefunden!"
                                                : "License|File not found!"));
        }
    }

    void draggedByItsBody_data() {
        QTest::addColumn<QString>("part");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("window's background") << "AboutBox" << int(Qt::LeftButton) << true;
        QTest::newRow("panel") << "Panel1" << int(Qt::LeftButton) << true;
        QTest::newRow("logo") << "Image2" << int(Qt::MiddleButton) << true;
        QTest::newRow("name") << "Label2" << int(Qt::LeftButton) << true;
        QTest::newRow("icon") << "Image1" << int(Qt::LeftButton) << true;
        QTest::newRow("right button") << "Label2" << int(Qt::RightButton) << false;
        QTest::newRow("OK button") << "BitBtn1" << int(Qt::LeftButton) << false;
        QTest::newRow("link") << "Label5" << int(Qt::LeftButton) << false;
    }

    void draggedByItsBody() {
        QFETCH(QString, part);
        QFETCH(int, button);
        QFETCH(bool, moves);
        UrlCatcher catcher;  // the link's click goes nowhere
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
        auto box = MakeBox();
        box->move(100, 100);
        const QPoint start = box->pos();
        QWidget* w = part == QLatin1String("AboutBox")
                         ? box.get()
                         : Find<QWidget>(*box, part.toLatin1().constData());
        const QPoint local(3, 3);
        auto send = [&](QEvent::Type type, QPoint globalOffset, Qt::MouseButtons held) {
            const QPoint global = w->mapToGlobal(local) + globalOffset;
            QMouseEvent e(type, QPointF(local), QPointF(global),
                          Qt::MouseButton(type == QEvent::MouseMove ? 0 : button), held,
                          Qt::NoModifier);
            QApplication::sendEvent(w, &e);
        };
        const QPoint origin = w->mapToGlobal(local);
        send(QEvent::MouseButtonPress, {}, Qt::MouseButton(button));
        // Each move is measured from the cursor's last place, not from where the window is now.
        QMouseEvent m1(QEvent::MouseMove, QPointF(local), QPointF(origin + QPoint(30, 20)),
                       Qt::NoButton, Qt::MouseButton(button), Qt::NoModifier);
        QApplication::sendEvent(w, &m1);
        QMouseEvent m2(QEvent::MouseMove, QPointF(local), QPointF(origin + QPoint(40, 15)),
                       Qt::NoButton, Qt::MouseButton(button), Qt::NoModifier);
        QApplication::sendEvent(w, &m2);
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(local), QPointF(origin + QPoint(40, 15)),
                       Qt::MouseButton(button), Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &up);
        QMouseEvent after(QEvent::MouseMove, QPointF(local), QPointF(origin + QPoint(90, 90)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &after);  // released: no longer follows
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCOMPARE(box->pos(), moves ? start + QPoint(40, 15) : start);
    }

    // The slide starts once, a double-click on the picture waits for it to end,
    // and restores the panel after it.
    void hiddenPictureSlide() {
        auto box = MakeBox();
        auto* panel = Find<QWidget>(*box, "Panel1");
        auto* egg = Find<QWidget>(*box, "PanelEgg");
        auto* timer = Find<QTimer>(*box, "TimerEgg");
        QCOMPARE(timer->interval(), 5);
        QCOMPARE(egg->geometry(), QRect((446 - 324) / 2, (374 - 220) / 2, 324, 220));
        QVERIFY(!egg->isVisible());
        const QPoint home = panel->pos();
        QCOMPARE(home, QPoint(48, 42));

        DoubleClick(Find<QWidget>(*box, "Image1"));
        QVERIFY(egg->isVisible());
        QVERIFY(timer->isActive());
        QTRY_VERIFY(panel->x() >= home.x() + 10);
        // The panel lies above the picture.
        QWidget* top = box->childAt(egg->geometry().center());
        QVERIFY(top == panel || panel->isAncestorOf(top));

        int x = panel->x();
        DoubleClick(Find<QWidget>(*box, "Image1"));  // during the slide: not started again
        QVERIFY(panel->x() >= x);
        DoubleClick(Find<QWidget>(*box, "ImageEgg"));  // during the slide: ignored
        QVERIFY(egg->isVisible());
        QVERIFY(panel->x() >= x);

        QTRY_VERIFY_WITH_TIMEOUT(!timer->isActive(), 10000);
        QVERIFY(panel->x() > box->width());
        QVERIFY(panel->x() <= box->width() + 5);  // stopped at the first step beyond the edge
        QCOMPARE(panel->y(), home.y());

        DoubleClick(Find<QWidget>(*box, "ImageEgg"));
        QVERIFY(!egg->isVisible());
        QCOMPARE(panel->pos(), QPoint((446 - 350) / 2, home.y()));
        QVERIFY(!timer->isActive());
    }

    void rainSetUpFollowsTheNumbers_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("drops");
        QTest::newRow("the window") << QSize(446, 374) << 55 << 31 << 110;
        QTest::newRow("cells not filled are not counted") << QSize(15, 23) << 1 << 1 << 2;
        QTest::newRow("at most 5000 drops") << QSize(8 * 3000, 120) << 3000 << 10 << 5000;
        QTest::newRow("narrower than a cell") << QSize(7, 100) << 0 << 8 << 0;
    }

    void rainSetUpFollowsTheNumbers() {
        QFETCH(QSize, size);
        QFETCH(int, columns);
        QFETCH(int, rows);
        QFETCH(int, drops);
        MatrixRain rain(QStringLiteral("kel"), 7);
        rain.Start(size.width(), size.height(), 1.0);
        QCOMPARE(rain.MatrixWidth(), columns);
        QCOMPARE(rain.MatrixHeight(), rows);
        QCOMPARE(int(rain.Drops().size()), drops);
        for (std::size_t i = 0; i < rain.Drops().size(); ++i) {
            const auto& d = rain.Drops()[i];
            QCOMPARE(d.Column, int(i % columns));
            QVERIFY(d.Row >= 0 && d.Row < rows);
            QVERIFY(d.Divisor >= 1 && d.Divisor <= 3);
            QVERIFY(d.Brightness >= 0 && d.Brightness <= 99);
        }
        for (int i = 0; i < 50; ++i) rain.Step();  // drawing never leaves the image
        for (const auto& d : rain.Drops()) QVERIFY(d.Row >= 0 && d.Row <= rows + 1);
    }

    // On a screen of twice the resolution the same cells have twice the pixels.
    void rainFollowsThePixelRatio() {
        MatrixRain rain(QStringLiteral("kel"), 5);
        rain.Start(446, 374, 2.0);
        QCOMPARE(rain.Image().size(), QSize(892, 748));
        QCOMPARE(rain.Image().devicePixelRatio(), 2.0);
        QCOMPARE(rain.MatrixWidth(), 55);
        QCOMPARE(rain.MatrixHeight(), 31);
        auto& drops = rain.DropsForTesting();
        drops.assign(1, MatrixRain::Drop{54, 30, 1, 99, QChar()});
        rain.Step();  // the last cell: drawn in the image's bottom-right corner
        bool lit = false;
        for (int y = 30 * 24; y < 31 * 24; ++y)
            for (int x = 54 * 16; x < 55 * 16; ++x) lit |= qGreen(rain.Image().pixel(x, y)) > 0;
        QVERIFY(lit);
        rain.SetUp(1.0);  // back on a plain screen: the size taken at the start stays
        QCOMPARE(rain.Image().size(), QSize(446, 374));
    }

    void rainColours_data() {
        QTest::addColumn<int>("brightness");
        QTest::addColumn<QColor>("head");
        QTest::addColumn<QColor>("trail");
        QTest::newRow("0") << 0 << QColor(0, 0, 0) << QColor(0, 0, 0);
        QTest::newRow("50") << 50 << QColor(74, 127, 49) << QColor(24, 42, 16);
        QTest::newRow("99") << 99 << QColor(148, 252, 98) << QColor(49, 84, 32);
    }

    void rainColours() {
        QFETCH(int, brightness);
        QFETCH(QColor, head);
        QFETCH(QColor, trail);
        QCOMPARE(QColor(MatrixRain::HeadColour(brightness)), head);
        QCOMPARE(QColor(MatrixRain::TrailColour(brightness)), trail);
    }

    // One drop: its letter in the head colour, the trail above it, the cell 40
    // rows up cleared (wrapping past the top), and the move by its divisor.
    void rainStepDrawsAndMovesADrop() {
        MatrixRain rain(QStringLiteral("kel"), 3);
        rain.Start(80, 600, 1.0);  // 10 columns, 50 rows
        QImage& image = const_cast<QImage&>(rain.Image());
        image.fill(Qt::white);
        auto& drops = rain.DropsForTesting();
        drops.assign(2, MatrixRain::Drop{});
        drops[0] = {3, 45, 2, 99, QChar()};
        drops[1] = {6, 5, 1, 50, QChar()};

        rain.Step();  // step 0: every divisor divides it
        bool lit = false;
        QVERIFY(CellInColour(image, 3, 45, MatrixRain::HeadColour(99), &lit));
        QVERIFY(lit);
        QVERIFY(CellInColour(image, 3, 44, MatrixRain::TrailColour(99), &lit));
        QVERIFY(!CellBlack(image, 3, 44));
        QVERIFY(CellBlack(image, 3, 5));                // 45 - 40
        QVERIFY(CellBlack(image, 6, 5 - 40 + 50 + 1));  // wrapped: row 16
        QVERIFY(QString("kel").contains(drops[0].Letter));
        QCOMPARE(drops[0].Row, 46);
        QCOMPARE(drops[1].Row, 6);

        rain.Step();  // step 1: the divisor 2 keeps its drop in place
        QCOMPARE(drops[0].Row, 46);
        QCOMPARE(drops[1].Row, 7);
        QCOMPARE(rain.StepCounter(), 2);

        drops[1].Row = 51;  // the last row + 1: one more step and it starts again at the top
        rain.Step();
        QCOMPARE(drops[1].Row, 0);
        QVERIFY(drops[1].Divisor >= 1 && drops[1].Divisor <= 3);
        QVERIFY(drops[1].Brightness >= 0 && drops[1].Brightness <= 99);
    }

    // The window shows the offscreen image as it is: a repaint draws the same
    // letters again, never a black window.
    void windowPaintsTheOffscreenImage() {
        auto box = MakeBox();
        auto* timer = Find<QTimer>(*box, "tmTimer");
        QCOMPARE(timer->interval(), 50);
        QVERIFY(timer->isActive());
        timer->stop();
        for (int i = 0; i < 30; ++i)
            QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
        const QImage shown =
            box->grab(QRect(0, 0, 40, 374)).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage image =
            box->Rain().Image().copy(0, 0, 40, 374).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), image.size());
        QVERIFY(shown == image);
        int lit = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) lit += qGray(shown.pixel(x, y)) > 0;
        QVERIFY(lit > 0);
    }

    // The window after two seconds of falling letters; saved as a picture for
    // the README when CORVEXA_SCREENSHOT_DIR names a folder.
    void screenshot() {
        auto box = MakeBox(QStringLiteral("Corvexa"), QStringLiteral("1.0"));
        auto* timer = Find<QTimer>(*box, "tmTimer");
        for (int i = 0; i < 40; ++i)
            QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
        const QImage shot = box->grab().toImage();
        QCOMPARE(shot.size(), QSize(446, 374));
        const QString dir = qEnvironmentVariable("CORVEXA_SCREENSHOT_DIR");
        if (!dir.isEmpty()) QVERIFY(shot.save(dir + QStringLiteral("/about-window.png")));
    }

    // The main window's "About..." only creates and opens the window, with the
    // program's identity.
    void theMainWindowOpensIt() {
        corvexa::ui::TAppForm main(window_->env);
        QStringList opened;
        window_->seams.AnswerDialogs([&](QDialog* d) {
            if (qobject_cast<TAboutBox*>(d))
                opened << d->windowTitle() + QLatin1Char('|') + Find<QLabel>(*d, "Label2")->text();
            d->reject();
        });
        auto* item = main.findChild<QAction*>(QStringLiteral("About1"));
        QVERIFY(item);
        item->trigger();
        item->trigger();
        const QString expected = QStringLiteral("About Corvexa|Corvexa ") + main.VersionText();
        QCOMPARE(opened, QStringList({expected, expected}));
    }
};

QTEST_MAIN(AboutBoxTest)
#include "about_box_qtest.moc"
