#include <csignal>

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include "main_form.h"
#include "player_registration.h"

namespace {
// The signal handler only writes a byte here; the event loop reads it and cancels the run.
int SignalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char Byte = 1;
    [[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
}

// The first SIGTERM, SIGINT or SIGHUP (a shutdown, Ctrl-C in the starting terminal, the terminal
// closing) cancels the run and lets the programmer be closed properly, so VPP ends in its
// after-run state, as korvex-cli does; a second one ends the program at once.
void InstallStopHandler() {
    if (::pipe(SignalPipe) != 0)
        return;
    struct sigaction Action {};
    Action.sa_handler = OnStopSignal;
    sigemptyset(&Action.sa_mask);
    Action.sa_flags = SA_RESETHAND;
    for (int Signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(Signal, &Action, nullptr);
}
} // namespace

// korvex-player: the desktop window. With -P -F file -C -CC it plays the file unattended and ends
// with 0 (success), 1 (the run failed or was cancelled) or 2 (the run did not start).
int main(int argc, char** argv) {
    InstallStopHandler();
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
    if (SignalPipe[0] >= 0) {
        auto* Signals = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &Form);
        QObject::connect(Signals, &QSocketNotifier::activated, &Form, [&Form] {
            char Byte;
            [[maybe_unused]] const ssize_t Read = ::read(SignalPipe[0], &Byte, 1);
            Form.CancelFromSignal();
        });
    }
    Form.show();
    App.exec();
    return Form.Controller().ExitCode;
}
