#include <QApplication>

#include "main_form.h"
#include "player_registration.h"

// korvex-player: the desktop window. With -P -F file -C -CC it plays the file unattended and ends
// with 0 (success), 1 (the run failed) or 2 (the run did not start).
int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvex-player"));
    QApplication::setApplicationVersion(QStringLiteral(KORVEX_PRODUCT_VERSION));

    // SVF first, XSVF second: the open dialog lists them in that order.
    RegisterPlayers();

    std::vector<std::string> Args;
    const QStringList Arguments = QCoreApplication::arguments();
    for (qsizetype I = 1; I < Arguments.size(); ++I)
        Args.push_back(Arguments[I].toStdString());

    TJtagMainForm Form(QCoreApplication::applicationFilePath().toStdString(), Args);
    Form.show();
    App.exec();
    return Form.Controller().ExitCode;
}
