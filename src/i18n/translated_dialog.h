#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace corvexa::i18n {

// Shows a modal standard message box whose title and button captions come
// already translated, and answers the button that closed it.
//
// The box shows kind's standard icon and one button per member of buttons, in a
// fixed order whatever the platform's custom (Yes, No, OK, Cancel, Abort, Retry,
// Ignore, then any others). The default button (focus, Enter) is OK when present,
// else Yes; the escape button is Cancel when present, else No. The box is centred
// on the screen. Button i, in that order, gets captions[i] when captions has one.
//
// Closing the box by its title bar answers QMessageBox::NoButton: neither Yes nor
// No, which callers that act only on Yes treat like No.
QMessageBox::StandardButton ShowTranslatedDialog(const QString& message, QMessageBox::Icon kind,
                                                 QMessageBox::StandardButtons buttons,
                                                 const QString& title, const QStringList& captions,
                                                 QWidget* parent = nullptr);

// When set, called with the box once it is shown and modal, from inside its event
// loop, to answer it the way a user would. An empty function removes the hook.
void SetDialogHookForTesting(std::function<void(QMessageBox*)> hook);

}  // namespace corvexa::i18n
