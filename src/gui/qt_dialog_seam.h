#pragma once

#include <functional>

#include <QString>

class QDialog;
class QWidget;

// Every modal dialog and error box of the window goes through here. The defaults run the real
// dialog; a test replaces a hook to answer it without blocking in a nested event loop.
namespace KorvexDialogs {

// Runs a dialog modally; returns its result (QDialog::Accepted or QDialog::Rejected).
using TExecHook = std::function<int(QDialog& Dialog)>;
// Shows an error box (error icon, one OK button) with the given text.
using TErrorBoxHook = std::function<void(QWidget* Parent, const QString& Text)>;

int ExecDialog(QDialog& Dialog);
void ShowErrorBox(QWidget* Parent, const QString& Text);

// Install a hook; an empty function restores the real dialogs.
void SetExecHook(TExecHook Hook);
void SetErrorBoxHook(TErrorBoxHook Hook);

} // namespace KorvexDialogs
