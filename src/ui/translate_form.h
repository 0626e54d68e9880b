#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace corvexa::ui {

// What the language window needs from the program that opens it.
struct TranslateFormHost {
    QString DataFolder;      // ends with '/': the restart script goes here
    QString ExecutablePath;  // the program the restart script starts again
    std::function<void(const QString&)> SetLanguageFile;  // keeps the choice for the next start
    std::function<void()> EndProgram;                     // ends this instance for the restart
};

// The language window: the languages whose files are present, with their flags
// and translators, a link to the maker's translation page, and OK, which after a
// confirmed change keeps the choice and restarts the program through a script.
// Created anew each time it is opened; shown modally.
class TTranslateForm : public QDialog {
    Q_OBJECT
public:
    explicit TTranslateForm(TranslateFormHost host, QWidget* parent = nullptr);

    // The translation page: "https://" + the maker's host + "/translation/".
    static QString TranslationPageAddress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void FormCreate();       // fills in the texts and the languages
    void ComboBox1Change();  // shows who translated the chosen language
    void Button1Click();     // applies the chosen language, restarting if asked
    void Label3Click();      // opens the translation page
    void Copy1Click();       // copies the selected text
    void SelectAll1Click();  // selects all the text
    void Restart();

    TranslateFormHost host_;
    QString openingLanguage_;  // the item selected when the window was created

    // Controls, named as in the window's design.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QPlainTextEdit* RichEdit1 = nullptr;
    QWidget* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* SelectAll1 = nullptr;
};

}  // namespace corvexa::ui
