// Takes the pictures of the windows for the documentation: a finished run in the main window,
// the options dialog, the programmer selection and the help window. Run it offscreen (or under
// any X server) with the simulated programmer, from the source folder:
//   KORVEX_D2XX=<build>/sim/libkorvex-sim.so QT_QPA_PLATFORM=offscreen
//       <build>/tests/gui/gui_screenshots docs   (one command line)
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "help_form.h"
#include "main_form.h"
#include "options_form.h"
#include "player_registration.h"
#include "qt_dialog_seam.h"
#include "qt_radio_group.h"
#include "selection_form.h"

namespace {
void Settle(int Ms = 300) {
    QTest::qWait(Ms);
}

bool Save(QWidget& W, const QString& Path) {
    Settle();
    // A palette image: a fraction of the size, and text and flat controls lose nothing visible.
    const QImage Shot = W.grab().toImage().convertToFormat(QImage::Format_Indexed8,
                                                           Qt::ThresholdDither | Qt::AvoidDither);
    const bool Ok = Shot.save(Path, "PNG", 9);
    std::printf("%s %s\n", Ok ? "wrote" : "FAILED", qPrintable(Path));
    return Ok;
}

QString Write(const QString& Path, const QByteArray& Text) {
    QFile F(Path);
    F.open(QIODevice::WriteOnly | QIODevice::Truncate);
    F.write(Text);
    return Path;
}
} // namespace

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral(KORVEX_PRODUCT_VERSION));
    const QString Out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(Out);
    RegisterPlayers();

    QTemporaryDir Dir;
    qputenv("KORVEX_SIM", Write(Dir.filePath("sim.cfg"), "device A6012345\ndevice A601BEEF\n"
                                                         "tdo_constant 0\n")
                              .toLocal8Bit());
    const QString Svf = Write(Dir.filePath("xc2c64a_verify.svf"),
                              "! Verify the IDCODE of the part\n"
                              "TRST OFF;\nENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\n"
                              "! Check the device identity\n"
                              "SIR 8 TDI(01);\n"
                              "SDR 32 TDI(00000000) TDO(00000000) MASK(0FFFFFFF);\n"
                              "RUNTEST 1000 TCK;\n"
                              "! Done\n");
    const std::vector<std::string> Args = {
        "-I", Dir.filePath("s.ini").toStdString(), "-S", "012345", "-F", Svf.toStdString()};
    TJtagMainForm W(Dir.filePath("korvex-player").toStdString(), Args);
    W.show();
    Settle();
    emit W.findChild<QMenu*>("fileMenu")->aboutToShow();
    W.findChild<QAction*>("processLastAction")->trigger();
    for (int I = 0; I < 100 && W.Controller().Processing(); ++I)
        Settle(100);
    Settle();
    bool Ok = Save(W, Out + "/main-window.png");

    TOptionsForm Options(&W);
    Options.SetValues(TRunOptions{});
    Options.show();
    Ok = Save(Options, Out + "/options-dialog.png") && Ok;
    Options.hide();

    TJTAGKorvexSelectionForm Select(&W, [&] { return W.Controller().Link.ListKorvexSerials(); });
    Select.findChild<TRadioGroup*>("serialGroup")->SetItemIndex(0);
    Select.show();
    Ok = Save(Select, Out + "/selection-dialog.png") && Ok;
    Select.hide();

    W.findChild<QAction*>("showHelpAction")->trigger();
    // Without a window manager nothing maximises the window: give it the screen as one would.
    auto* Help = W.findChild<THelpForm*>("helpWindow");
    Help->setGeometry(Help->screen()->availableGeometry());
    Ok = Save(*Help, Out + "/help-window.png") && Ok;
    Help->hide();
    return Ok ? 0 : 1;
}
