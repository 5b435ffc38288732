#include "qt_dialog_seam.h"

#include <QDialog>
#include <QMessageBox>

namespace KorvexDialogs {

namespace {
TExecHook& ExecHook() {
    static TExecHook Hook;
    return Hook;
}
TErrorBoxHook& ErrorBoxHook() {
    static TErrorBoxHook Hook;
    return Hook;
}
} // namespace

int ExecDialog(QDialog& Dialog) {
    if (ExecHook())
        return ExecHook()(Dialog);
    return Dialog.exec();
}

void ShowErrorBox(QWidget* Parent, const QString& Text) {
    if (ErrorBoxHook()) {
        ErrorBoxHook()(Parent, Text);
        return;
    }
    QMessageBox Box(QMessageBox::Critical, QStringLiteral("Error"), Text, QMessageBox::Ok, Parent);
    Box.exec();
}

void SetExecHook(TExecHook Hook) {
    ExecHook() = std::move(Hook);
}
void SetErrorBoxHook(TErrorBoxHook Hook) {
    ErrorBoxHook() = std::move(Hook);
}

} // namespace KorvexDialogs
