#include <atomic>

#include <QApplication>
#include <QTimer>

#include "main_form.h"
#include "native_console.h"
#include "player_registration.h"

namespace {
// Set by the first SIGTERM, SIGINT or SIGHUP (a shutdown, Ctrl-C in the starting terminal, the
// terminal closing; on Windows Ctrl-C, Ctrl-Break or the console closing): the run is cancelled and
// the programmer closed properly, so VPP ends in its after-run state, as korvex-cli does. A second
// one ends the program at once.
std::atomic<bool> StopRequested{false};
} // namespace

// korvex-player: the desktop window. With -P -F file -C -CC it plays the file unattended and ends
// with 0 (success), 1 (the run failed or was cancelled) or 2 (the run did not start).
int main(int argc, char** argv) {
    platform::InstallStopHandler(StopRequested);
    QApplication App(argc, argv);
    QApplication::setApplicationName(QStringLiteral("korvex-player"));
    QApplication::setApplicationVersion(QStringLiteral(KORVEX_PRODUCT_VERSION));

    // SVF first, XSVF second: the open dialog lists them in that order.
    RegisterPlayers();

    // Qt gives the arguments and the program's path as Unicode on every system; UTF-8 inside.
    std::vector<std::string> Args;
    const QStringList Arguments = QCoreApplication::arguments();
    for (qsizetype I = 1; I < Arguments.size(); ++I)
        Args.push_back(Arguments[I].toStdString());

    TJtagMainForm Form(QCoreApplication::applicationFilePath().toStdString(), Args);
    // The handler only sets the flag (nothing else is safe in a signal handler, and on Windows it
    // runs on a thread of its own); the event loop looks at it and cancels the run once.
    auto* StopPoll = new QTimer(&Form);
    QObject::connect(StopPoll, &QTimer::timeout, &Form, [&Form, StopPoll] {
        if (StopRequested.load()) {
            StopPoll->stop();
            Form.CancelFromSignal();
        }
    });
    StopPoll->start(100);
    Form.show();
    App.exec();
    return Form.Controller().ExitCode;
}
