// The translated confirmation dialog, answered from inside its own event loop
// the way a user would answer it.
#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QtTest>
#include <algorithm>

#include "i18n/translated_dialog.h"

using namespace corvexa::i18n;

namespace {

// A platform whose custom puts No before Yes.
class NoFirstStyle : public QProxyStyle {
public:
    NoFirstStyle() : QProxyStyle(QStyleFactory::create("Fusion")) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_DialogButtonLayout) return QDialogButtonBox::GnomeLayout;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

// The box's push buttons from left to right.
QList<QPushButton*> ButtonsLeftToRight(QMessageBox* box) {
    QList<QPushButton*> buttons = box->findChildren<QPushButton*>();
    std::sort(buttons.begin(), buttons.end(), [box](QPushButton* a, QPushButton* b) {
        return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
    });
    return buttons;
}

QStringList Texts(const QList<QPushButton*>& buttons) {
    QStringList texts;
    for (QPushButton* b : buttons) texts << b->text();
    return texts;
}

}  // namespace

class TranslatedDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void answers_data();
    void answers();
    void looksAsAsked();
    void captionsReplacedInOrderAsFarAsGiven();

private:
    // Shows a Yes/No confirmation and runs check on it while it is open. When
    // check leaves it open, the box is closed and the test fails.
    QMessageBox::StandardButton Show(const QStringList& captions,
                                     const std::function<void(QMessageBox*)>& check,
                                     QWidget* parent = nullptr);
};

void TranslatedDialogTest::initTestCase() {
    QApplication::setStyle(new NoFirstStyle);
}

void TranslatedDialogTest::cleanup() {
    SetDialogHookForTesting(nullptr);
}

QMessageBox::StandardButton TranslatedDialogTest::Show(
    const QStringList& captions, const std::function<void(QMessageBox*)>& check, QWidget* parent) {
    int calls = 0;
    bool leftOpen = false;
    SetDialogHookForTesting([&](QMessageBox* box) {
        ++calls;
        check(box);
        if (box->isVisible()) {
            leftOpen = true;
            box->done(0);
        }
    });
    const QMessageBox::StandardButton result = ShowTranslatedDialog(
        "Uygulama yeniden ba\u015Flat\u0131ls\u0131n m\u0131?", QMessageBox::Question,
        QMessageBox::Yes | QMessageBox::No, "Onay", captions, parent);
    [&] {
        QCOMPARE(calls, 1);
        QVERIFY2(!leftOpen, "the dialog stayed open");
    }();
    return result;
}

void TranslatedDialogTest::answers_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    QTest::newRow("Enter") << "enter" << int(QMessageBox::Yes);
    QTest::newRow("Return") << "return" << int(QMessageBox::Yes);
    QTest::newRow("Escape") << "escape" << int(QMessageBox::No);
    QTest::newRow("click Yes") << "click yes" << int(QMessageBox::Yes);
    QTest::newRow("click No") << "click no" << int(QMessageBox::No);
    // Neither Yes nor No: callers that act only on Yes do nothing.
    QTest::newRow("title bar close") << "close" << int(QMessageBox::NoButton);
}

void TranslatedDialogTest::answers() {
    QFETCH(QString, action);
    QFETCH(int, result);
    const QStringList captions = {"Evet", "Hay\u0131r"};
    const auto answer = Show(captions, [&](QMessageBox* box) {
        QVERIFY(box->isVisible());
        QVERIFY(box->isModal());
        QCOMPARE(QApplication::activeModalWidget(), box);
        QPushButton* yes = nullptr;
        QPushButton* no = nullptr;
        for (QPushButton* b : box->findChildren<QPushButton*>()) {
            if (b->text() == captions[0]) yes = b;
            if (b->text() == captions[1]) no = b;
        }
        QVERIFY(yes && no);
        QWidget* focus = box->focusWidget();
        QCOMPARE(focus, yes);
        if (action == "enter") QTest::keyClick(focus, Qt::Key_Enter);
        if (action == "return") QTest::keyClick(focus, Qt::Key_Return);
        if (action == "escape") QTest::keyClick(focus, Qt::Key_Escape);
        if (action == "click yes") QTest::mouseClick(yes, Qt::LeftButton);
        if (action == "click no") QTest::mouseClick(no, Qt::LeftButton);
        if (action == "close") box->close();
    });
    QCOMPARE(int(answer), result);
}

void TranslatedDialogTest::looksAsAsked() {
    // The parent sits in a corner; the box still centres on the screen.
    QWidget parent;
    parent.setGeometry(0, 0, 120, 80);
    parent.show();

    Show(
        {"Evet", "Hay\u0131r"},
        [](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QString("Onay"));
            QCOMPARE(box->text(), QString("Uygulama yeniden ba\u015Flat\u0131ls\u0131n m\u0131?"));
            QCOMPARE(box->icon(), QMessageBox::Question);
            QVERIFY(!box->iconPixmap().isNull());

            const QList<QPushButton*> buttons = ButtonsLeftToRight(box);
            QCOMPARE(Texts(buttons), (QStringList{"Evet", "Hay\u0131r"}));  // Yes, then No
            QCOMPARE(box->defaultButton(), buttons[0]);
            QVERIFY(buttons[0]->isDefault());
            QCOMPARE(box->escapeButton(), buttons[1]);

            const QPoint screenCentre = box->screen()->availableGeometry().center();
            const QPoint boxCentre = box->frameGeometry().center();
            QVERIFY2((screenCentre - boxCentre).manhattanLength() <= 2,
                     qPrintable(QString("box centre %1,%2, screen centre %3,%4")
                                    .arg(boxCentre.x())
                                    .arg(boxCentre.y())
                                    .arg(screenCentre.x())
                                    .arg(screenCentre.y())));
            QTest::keyClick(box->focusWidget(), Qt::Key_Escape);
        },
        &parent);
}

void TranslatedDialogTest::captionsReplacedInOrderAsFarAsGiven() {
    struct Case {
        QStringList captions;
        QString yes;
        QString no;  // empty: the platform's own caption
    } cases[] = {
        {{}, "", ""},
        {{"Evet"}, "Evet", ""},
        {{"Evet", "Hay\u0131r", "Tamam"}, "Evet", "Hay\u0131r"},
    };
    for (const Case& c : cases) {
        QStringList shown;
        const auto answer = Show(c.captions, [&](QMessageBox* box) {
            shown = Texts(ButtonsLeftToRight(box));
            QTest::keyClick(box->focusWidget(), Qt::Key_Return);
        });
        QCOMPARE(answer, QMessageBox::Yes);
        QCOMPARE(shown.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QString expected = i == 0 ? c.yes : c.no;
            if (expected.isEmpty()) {
                QVERIFY(!shown[i].isEmpty());
                QVERIFY(!c.captions.contains(shown[i]));
            } else {
                QCOMPARE(shown[i], expected);
            }
        }
    }
}

QTEST_MAIN(TranslatedDialogTest)
#include "translated_dialog_qtest.moc"
