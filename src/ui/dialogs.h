#pragma once

#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace corvexa::ui {

// Every modal dialog of the main window runs through ExecModal. Tests set a
// hook that is called with the dialog once it is shown and its own event loop
// runs, and answer it the way a user would (keys, clicks, typed names).
int ExecModal(QDialog& dialog);
using ModalHook = std::function<void(QDialog*)>;
void SetModalHookForTesting(ModalHook hook);

// The three START warnings and other notices: caption "Warning", exclamation
// icon, one OK button.
void ShowWarning(QWidget* parent, const QString& text);

// The application's general error handling: an error that escapes a user
// command is shown with its message in a box.
void ShowApplicationError(QWidget* parent, const QString& message);

// Runs a user command and hands any error it raises to ShowApplicationError.
void RunCommand(QWidget* parent, const std::function<void()>& command);

}  // namespace corvexa::ui
