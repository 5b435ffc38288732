#include <QAction>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QTextBrowser>
#include <QtTest>

#include <csignal>

#include "driver_env.h"
#include "help_form.h"
#include "main_form.h"
#include "options_form.h"
#include "player_registration.h"
#include "qt_console_view.h"
#include "qt_dialog_seam.h"
#include "qt_radio_group.h"
#include "scratch.h"
#include "selection_form.h"

namespace {
const QColor Black(0, 0, 0), Grey(128, 128, 128), Red(255, 0, 0);

// A file the tests write into their temporary folder.
QString WriteFile(const QString& Path, const QByteArray& Content) {
    QFile F(Path);
    if (!F.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(Path));
    F.write(Content);
    return Path;
}

// A part of the window by its object name; a missing one ends the test program.
template <class T> T* Child(const QObject& Parent, const char* Name) {
    auto* C = Parent.findChild<T*>(QString::fromLatin1(Name));
    if (!C)
        qFatal("no %s named %s", T::staticMetaObject.className(), Name);
    return C;
}
QAction* Action(const TJtagMainForm& W, const char* Name) {
    return Child<QAction>(W, Name);
}
TConsoleView* Console(const TJtagMainForm& W) {
    return Child<TConsoleView>(W, "consoleView");
}
// What opening the File menu does: its items brought up to date.
void UpdateFileMenu(const TJtagMainForm& W) {
    emit Child<QMenu>(W, "fileMenu")->aboutToShow();
}
// "&Process Last File" chosen from the menu.
void ProcessLast(const TJtagMainForm& W) {
    UpdateFileMenu(W);
    Action(W, "processLastAction")->trigger();
}

QStringList ConsoleLines(const TJtagMainForm& W) {
    return Console(W)->Text().split(u'\n');
}

QColor LineColor(const TJtagMainForm& W, int Line) {
    return Console(W)->LineColor(Line);
}

int FindLine(const TJtagMainForm& W, const QString& Start) {
    const QStringList L = ConsoleLines(W);
    for (int I = 0; I < L.size(); ++I)
        if (L[I].startsWith(Start))
            return I;
    return -1;
}
} // namespace

// The main window on the simulated programmer: menus and keys, dialogs answered through the seam,
// whole runs from the menu to the outcome line.
class TMainFormTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void MenuCaptionsAndShortcuts();
    void TitleWithAndWithoutVersion();
    void ProgressBarRanges();
    void FilterForTwoTypes_data();
    void FilterForTwoTypes();
    void BareOOpensTheOpenDialog();
    void PNeedsAnExistingLastFile();
    void WholeRunFromProcessLastFile();
    void ChainScanAndCheckFromTheFileMenu();
    void FailedRunIsRed();
    void CommentsItemControlsGreyLines();
    void ClosingRefusedDuringRunAndStop();
    void NoProgrammerKeepsConsole();
    void SelectKorvexSetsSerial();
    void SelectionDialogAgainUntilOneIsChosen();
    void OptionsThroughTheMenu();
    void HelpWithF1AndEscape();
    void DriverMissingClosesWithTwo();
    void PlacementRemembered();
    void UnattendedRunExitCodes_data();
    void UnattendedRunExitCodes();
    void UnattendedSaveFailureGoesToStandardError();
    void SignalsCancelCloseAndSave_data();
    void SignalsCancelCloseAndSave();

private:
    std::unique_ptr<TJtagMainForm> MakeForm(QStringList Args);
    void SetSim(const QByteArray& Config);
    void Tick(TJtagMainForm& W, int Count = 1);
    // Ticks until the console shows a line starting with Text, at most Ms milliseconds.
    bool WaitForLine(TJtagMainForm& W, const QString& Text, int Ms = 10000);

    // A path in the test's scratch folder.
    QString InFolder(const QString& Name) const {
        return QString::fromStdString(Folder.File(Name.toStdString()));
    }

    TScratchFolder Folder{"gui"};
    TSimScenario Scenario{Folder};
    QString Ini;
    QStringList ErrorBoxes;
    QStringList Dialogs;                       // class names of the dialogs run modally
    std::function<int(QDialog&)> AnswerDialog; // how the next modal dialogs are answered
};

void TMainFormTest::initTestCase() {
    RegisterPlayers();
    korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
    KorvexDialogs::SetErrorBoxHook([this](QWidget*, const QString& Text) { ErrorBoxes << Text; });
    KorvexDialogs::SetExecHook([this](QDialog& D) {
        Dialogs << QString::fromLatin1(D.metaObject()->className());
        return AnswerDialog ? AnswerDialog(D) : int(QDialog::Rejected);
    });
}

void TMainFormTest::init() {
    Ini = InFolder(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
    QFile::remove(Ini);
    ErrorBoxes.clear();
    Dialogs.clear();
    AnswerDialog = nullptr;
    SetSim("tdo_constant 0\n");
    QCoreApplication::setApplicationVersion(QStringLiteral(KORVEX_PRODUCT_VERSION));
}

void TMainFormTest::cleanup() {
    korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
}

std::unique_ptr<TJtagMainForm> TMainFormTest::MakeForm(QStringList Args) {
    Args << "-I" << Ini;
    std::vector<std::string> A;
    for (const QString& S : Args)
        A.push_back(S.toStdString());
    auto W = std::make_unique<TJtagMainForm>(InFolder("korvex-player").toStdString(), A);
    Child<QTimer>(*W, "pollTimer")
        ->stop(); // the tests poll by hand, so every step is deterministic
    return W;
}

void TMainFormTest::SetSim(const QByteArray& Config) {
    Scenario.Use(Config.toStdString());
}

void TMainFormTest::Tick(TJtagMainForm& W, int Count) {
    for (int I = 0; I < Count; ++I)
        W.Poll();
}

bool TMainFormTest::WaitForLine(TJtagMainForm& W, const QString& Text, int Ms) {
    QElapsedTimer T;
    T.start();
    while (T.elapsed() < Ms) {
        Tick(W);
        if (FindLine(W, Text) >= 0)
            return true;
        QTest::qWait(20);
    }
    return false;
}

void TMainFormTest::MenuCaptionsAndShortcuts() {
    auto W = MakeForm({});
    const QList<QAction*> Top = W->menuBar()->actions();
    QCOMPARE(Top.size(), 3);
    QCOMPARE(Top[0]->text(), QStringLiteral("&File"));
    QCOMPARE(Top[1]->text(), QStringLiteral("&Options"));
    QCOMPARE(Top[2]->text(), QStringLiteral("&Help"));

    const struct {
        QMenu* Menu;
        int Position;
        QString Caption;
        QKeySequence Shortcut;
    } Rows[] = {
        {Child<QMenu>(*W, "fileMenu"), 0, "&Open && Process", QKeySequence(Qt::Key_O)},
        {Child<QMenu>(*W, "fileMenu"), 1, "&Process Last File", QKeySequence(Qt::Key_P)},
        {Child<QMenu>(*W, "fileMenu"), 2, "&Check File", {}},
        {Child<QMenu>(*W, "fileMenu"), 3, "Scan JTAG C&hain", {}},
        {Child<QMenu>(*W, "fileMenu"), 4, "&Stop", QKeySequence(Qt::Key_S)},
        {Child<QMenu>(*W, "fileMenu"), 6, "&Close", QKeySequence(Qt::Key_X)},
        {Child<QMenu>(*W, "optionsMenu"), 0, "Program &Options", {}},
        {Child<QMenu>(*W, "optionsMenu"), 1, "Write SVF file comments into console", {}},
        {Child<QMenu>(*W, "optionsMenu"), 2, "Select Korvex", {}},
        {Child<QMenu>(*W, "helpMenu"), 0, "Show &Help && Programming Tips",
         QKeySequence(Qt::Key_F1)},
    };
    for (const auto& R : Rows) {
        QAction* A = R.Menu->actions().value(R.Position);
        QVERIFY(A);
        QCOMPARE(A->text(), R.Caption);
        QCOMPARE(A->shortcut(), R.Shortcut);
    }
    QVERIFY(Child<QMenu>(*W, "fileMenu")->actions()[5]->isSeparator());
    QVERIFY(Action(*W, "writeCommentsAction")->isCheckable());
    QVERIFY(Action(*W, "writeCommentsAction")->isChecked());
    QVERIFY(!Action(*W, "stopAction")->isEnabled()); // only during a run

    // The window's parts.
    // The console asks for the system's fixed font; what the font system resolves that to is
    // the machine's business (Qt calls some common monospaced fonts proportional).
    QCOMPARE(Console(*W)->font().family(),
             QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    QCOMPARE(Console(*W)->font().styleHint(), QFont::Monospace);
    QCOMPARE(Child<QWidget>(*W, "progressPanel")->height(), 49);
    QCOMPARE(Child<QTimer>(*W, "pollTimer")->interval(), 100);
    QCOMPARE(Child<QLabel>(*W, "statusLabel")->text(), QString());
}

void TMainFormTest::TitleWithAndWithoutVersion() {
    {
        auto W = MakeForm({});
        QCOMPARE(W->windowTitle(), QStringLiteral("JTAG SVF Player for KORVEX 1.6"));
    }
    QCoreApplication::setApplicationVersion(QString());
    auto W = MakeForm({});
    QCOMPARE(W->windowTitle(), QStringLiteral("JTAG SVF Player for KORVEX "));
}

void TMainFormTest::ProgressBarRanges() {
    auto W = MakeForm({});
    const struct {
        int64_t Max, Position;
        double Fraction;
    } Rows[] = {
        {1000, 250, 0.25},
        {int64_t(6) << 30, int64_t(3) << 30, 0.5}, // a file of 6 GB: beyond the bar's int range
        {int64_t(6) << 30, int64_t(6) << 30, 1.0},
        {1000, 5000, 1.0}, // never past the end
        {0, 0, 1.0},       // the end of an empty file: a full bar, not a busy indicator
    };
    for (const auto& R : Rows) {
        static_cast<IControllerView&>(*W).SetProgress(R.Max, R.Position);
        QVERIFY(Child<QProgressBar>(*W, "progressBar")->maximum() > 0);
        const double Shown = double(Child<QProgressBar>(*W, "progressBar")->value()) /
                             Child<QProgressBar>(*W, "progressBar")->maximum();
        QVERIFY2(qAbs(Shown - R.Fraction) < 0.001, qPrintable(QString::number(Shown)));
    }
}

void TMainFormTest::FilterForTwoTypes_data() {
    QTest::addColumn<QStringList>("Types");
    QTest::addColumn<QStringList>("Filters");
    QTest::addColumn<QString>("Selected");
    QTest::newRow("SVF and XSVF") << QStringList{"SVF", "XSVF"}
                                  << QStringList{"SVF files (*.svf)", "XSVF files (*.xsvf)",
                                                 "All supported files (*.SVF *.XSVF)"}
                                  << "All supported files (*.SVF *.XSVF)";
    QTest::newRow("one type") << QStringList{"SVF"} << QStringList{"SVF files (*.svf)"}
                              << "SVF files (*.svf)";
}

void TMainFormTest::FilterForTwoTypes() {
    QFETCH(QStringList, Types);
    QFETCH(QStringList, Filters);
    QFETCH(QString, Selected);
    TJtagFilesList Registry;
    for (const QString& T : Types)
        Registry.Register(T.toStdString(), nullptr);
    const TQtNameFilters Q = QtNameFilters(BuildOpenDialogFilter(Registry));
    QCOMPARE(Q.Filters, Filters);
    QCOMPARE(Q.Selected, Selected);
}

void TMainFormTest::BareOOpensTheOpenDialog() {
    auto W = MakeForm({});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    QString Title, Filter;
    QStringList Filters;
    AnswerDialog = [&](QDialog& D) {
        auto* F = qobject_cast<QFileDialog*>(&D);
        if (F) {
            Title = F->windowTitle();
            Filters = F->nameFilters();
            Filter = F->selectedNameFilter();
        }
        return int(QDialog::Rejected);
    };
    Console(*W)->setFocus();
    QTest::keyClick(Console(*W), Qt::Key_O);
    QCOMPARE(Dialogs, QStringList{"QFileDialog"});
    QCOMPARE(Title, QStringLiteral("Open file for process"));
    QCOMPARE(Filters, (QStringList{"SVF files (*.svf)", "XSVF files (*.xsvf)",
                                   "All supported files (*.SVF *.XSVF)"}));
    QCOMPARE(Filter, QStringLiteral("All supported files (*.SVF *.XSVF)"));
    QVERIFY(!W->Controller().Processing()); // cancelled: nothing runs

    // With a modifier the letter is not the shortcut.
    QTest::keyClick(Console(*W), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Dialogs.size(), 1);
}

void TMainFormTest::PNeedsAnExistingLastFile() {
    auto W = MakeForm({});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    QTest::keyClick(Console(*W), Qt::Key_P);
    QVERIFY(Dialogs.isEmpty()); // not even the programmer selection
    QVERIFY(!W->Controller().Processing());
    UpdateFileMenu(*W);
    QVERIFY(!Action(*W, "processLastAction")->isEnabled());

    // A file chosen: P works even though the menu has not been opened since.
    const QString File = WriteFile(InFolder("p.svf"), "SIR 8 TDI(01);\n");
    W->Controller().LastFileName = File.toStdString();
    QTest::keyClick(Console(*W), Qt::Key_P);
    QCOMPARE(Dialogs, QStringList{"TJTAGKorvexSelectionForm"}); // first run: which KORVEX?
    QVERIFY(Action(*W, "processLastAction")->isEnabled());

    // The file deleted: disabled again.
    QFile::remove(File);
    UpdateFileMenu(*W);
    QVERIFY(!Action(*W, "processLastAction")->isEnabled());
    QTest::keyClick(Console(*W), Qt::Key_P);
    QCOMPARE(Dialogs.size(), 1);
}

void TMainFormTest::WholeRunFromProcessLastFile() {
    const QString File = WriteFile(InFolder("ok.svf"), "! erase the part\n"
                                                       "SIR 8 TDI(01);\n"
                                                       "SDR 8 TDI(00) TDO(00) MASK(FF);\n"
                                                       "RUNTEST 100 TCK;\n");
    auto W = MakeForm({"-F", File});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    // The status bar names the USB driver the simulator was loaded through.
    QCOMPARE(Child<QLabel>(*W, "driverLabel")->text(),
             QStringLiteral("USB driver: %1 (%2)")
                 .arg(korvextest::ThroughLibftdi() ? "libftdi1" : "D2XX", KORVEX_SIM_LIBRARY));
    // The programmer is chosen in the selection dialog on this first run.
    AnswerDialog = [](QDialog& D) {
        auto& S = static_cast<TJTAGKorvexSelectionForm&>(D);
        Child<TRadioGroup>(S, "serialGroup")->Button(0)->click();
        return int(QDialog::Accepted);
    };
    UpdateFileMenu(*W);
    QVERIFY(Action(*W, "processLastAction")->isEnabled());
    Action(*W, "processLastAction")->trigger();
    QCOMPARE(Dialogs, QStringList{"TJTAGKorvexSelectionForm"});
    QCOMPARE(Child<QLabel>(*W, "statusLabel")->text(), QStringLiteral("Using KORVEX S/N 012345"));
    QVERIFY(W->Controller().Processing());
    QVERIFY(Action(*W, "stopAction")->isEnabled());

    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QVERIFY(!W->Controller().Processing());
    QVERIFY(!Action(*W, "stopAction")->isEnabled());
    QCOMPARE(W->Controller().ExitCode, uint8_t(0));
    // The status line keeps the programmer and adds the run's total time.
    QVERIFY(Child<QLabel>(*W, "statusLabel")
                ->text()
                .startsWith("Using KORVEX S/N 012345   Total time "));
    QCOMPARE(Child<QProgressBar>(*W, "progressBar")->value(),
             Child<QProgressBar>(*W, "progressBar")->maximum());

    const QStringList L = ConsoleLines(*W);
    QCOMPARE(L.first(), QStringLiteral("Using KORVEX S/N 012345"));
    QCOMPARE(L.last(), QStringLiteral("File processing completed successfully"));
    const int Reading = FindLine(*W, "Reading file ");
    const int Comment = FindLine(*W, "! erase the part");
    QVERIFY(Reading > 0);
    QVERIFY(Comment > Reading);
    QCOMPARE(LineColor(*W, 0), Black);
    QCOMPARE(LineColor(*W, Reading), Black);
    QCOMPARE(LineColor(*W, Comment), Grey);
    QCOMPARE(LineColor(*W, int(L.size()) - 1), Black); // grey does not carry over
    QVERIFY(ErrorBoxes.isEmpty());

    // A second run clears the console first, and finds the chosen programmer without a dialog.
    Action(*W, "processLastAction")->trigger();
    QCOMPARE(Dialogs.size(), 1);
    QCOMPARE(Console(*W)->Text(), QString());
    Tick(*W);
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N 012345"));
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(FindLine(*W, "File processing completed successfully"), int(L.size()) - 1);
}

void TMainFormTest::ChainScanAndCheckFromTheFileMenu() {
    SetSim("device A6012345\ntap irlen=8 idcode=0x59604093\ntap irlen=6 idcode=none\n");
    auto W = MakeForm({"-S", "012345"});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    UpdateFileMenu(*W);
    Action(*W, "scanChainAction")->trigger();
    Tick(*W);
    QCOMPARE(ConsoleLines(*W).value(1), QStringLiteral("JTAG chain: 2 devices, instruction "
                                                       "registers 14 bits in total (device 1 is "
                                                       "nearest TDI)"));
    QVERIFY(FindLine(*W, "  1  0x59604093  Xilinx (AMD)") > 0);
    QVERIFY(FindLine(*W, "  2  BYPASS") > 0);

    // "Check File" reads the chosen file without the programmer; an error is red.
    const QString Bad = WriteFile(InFolder("bad.svf"), "STATE RESET;\nSTATE NOWHERE;\n");
    AnswerDialog = [&](QDialog& D) {
        qobject_cast<QFileDialog*>(&D)->selectFile(Bad);
        return int(QDialog::Accepted);
    };
    Action(*W, "checkFileAction")->trigger();
    Tick(*W);
    QCOMPARE(ConsoleLines(*W).first(), "Checking file " + Bad);
    const int Error = FindLine(*W, "Fatal error");
    QVERIFY(Error > 0);
    QVERIFY(ConsoleLines(*W)[Error].contains("near line 2"));
    QCOMPARE(LineColor(*W, Error), Red);
    QVERIFY(!W->Controller().Processing());
}

void TMainFormTest::FailedRunIsRed() {
    const QString File = WriteFile(InFolder("bad.svf"), "SDR 8 TDI(00) TDO(FF) MASK(FF);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    ProcessLast(*W);
    QVERIFY(WaitForLine(*W, "!! ERROR !! File processing failed"));
    QCOMPARE(W->Controller().ExitCode, uint8_t(1));
    const QStringList L = ConsoleLines(*W);
    const int Reading = FindLine(*W, "Reading file ");
    QVERIFY(L.size() > Reading + 2); // the player's own report comes before the outcome
    for (int I = Reading + 1; I < L.size(); ++I)
        QCOMPARE(LineColor(*W, I), Red);
    QCOMPARE(LineColor(*W, Reading), Black);
}

void TMainFormTest::CommentsItemControlsGreyLines() {
    const QString File = WriteFile(InFolder("c.svf"), "! first note\nSIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    Action(*W, "writeCommentsAction")->trigger(); // unchecks
    QVERIFY(!Action(*W, "writeCommentsAction")->isChecked());
    ProcessLast(*W);
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(FindLine(*W, "! first note"), -1);
    Action(*W, "writeCommentsAction")->trigger();
    ProcessLast(*W);
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QVERIFY(FindLine(*W, "! first note") > 0);
    W->close();
    // Unchecked survives a restart through the settings file.
    Action(*W, "writeCommentsAction")->setChecked(false);
    W->Controller().SaveSettings();
    auto Again = MakeForm({});
    QVERIFY(!Action(*Again, "writeCommentsAction")->isChecked());
}

void TMainFormTest::ClosingRefusedDuringRunAndStop() {
    // Every read-back is answered late, so the run lasts long enough to try closing it.
    SetSim("tdo_constant 0\nreply_delay_ms 150\n");
    QByteArray Svf;
    for (int I = 0; I < 200; ++I)
        Svf += "SDR 8 TDI(00) TDO(00) MASK(FF);\n";
    const QString File = WriteFile(InFolder("slow.svf"), Svf);
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    ProcessLast(*W);
    QVERIFY(W->Controller().Processing());

    QVERIFY(!W->close());
    QCOMPARE(ErrorBoxes, QStringList{"Please wait until file processing is done."});
    QVERIFY(W->isVisible());
    QTest::keyClick(Console(*W), Qt::Key_X); // the shortcut closes the same way
    QCOMPARE(ErrorBoxes.size(), 2);
    QVERIFY(W->isVisible());

    // O and P do nothing during a run.
    QTest::keyClick(Console(*W), Qt::Key_O);
    QTest::keyClick(Console(*W), Qt::Key_P);
    QVERIFY(Dialogs.isEmpty());

    QTest::keyClick(Console(*W), Qt::Key_S);
    QVERIFY(WaitForLine(*W, "!! ERROR !! File processing failed"));
    QCOMPARE(W->Controller().ExitCode, uint8_t(1));
    QVERIFY(!Action(*W, "stopAction")->isEnabled());

    // The programmer was released: the next run opens it again and completes.
    SetSim("tdo_constant 0\n");
    ProcessLast(*W);
    QVERIFY(WaitForLine(*W, "File processing completed successfully", 30000));
    QVERIFY(W->close());
    QCOMPARE(ErrorBoxes.size(), 2);
}

void TMainFormTest::NoProgrammerKeepsConsole() {
    const QString File = WriteFile(InFolder("n.svf"), "SIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    ProcessLast(*W);
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    const QString Before = Console(*W)->Text();

    SetSim("no_devices\n");
    ProcessLast(*W);
    QCOMPARE(ErrorBoxes, QStringList{"KORVEX not found"});
    QVERIFY(!W->Controller().Processing());
    Tick(*W);
    QCOMPARE(Console(*W)->Text(), Before);
}

void TMainFormTest::SelectKorvexSetsSerial() {
    SetSim("device A6012345\ndevice A601ABCD\n");
    auto W = MakeForm({});
    W->show();
    QStringList Items;
    AnswerDialog = [&](QDialog& D) {
        auto& S = static_cast<TJTAGKorvexSelectionForm&>(D);
        Items = Child<TRadioGroup>(S, "serialGroup")->Items();
        Child<TRadioGroup>(S, "serialGroup")->Button(1)->click();
        return int(QDialog::Accepted);
    };
    Action(*W, "selectProgrammerAction")->trigger();
    QCOMPARE(Items, (QStringList{"S/N 012345", "S/N 01ABCD"}));
    QCOMPARE(W->Controller().Link.SerialNumber, int32_t(0xA601ABCD));

    AnswerDialog = [](QDialog& D) {
        Child<TRadioGroup>(D, "serialGroup")->Button(0)->click();
        return int(QDialog::Rejected);
    };
    Action(*W, "selectProgrammerAction")->trigger();
    QCOMPARE(W->Controller().Link.SerialNumber, int32_t(0xA601ABCD)); // Cancel keeps it

    // A run started now finds the chosen programmer at once and names it as the dialog stored it.
    W->Controller().LastFileName = WriteFile(InFolder("s.svf"), "SIR 8 TDI(01);\n").toStdString();
    ProcessLast(*W);
    QCOMPARE(Dialogs.size(), 2);
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N A601ABCD"));
}

void TMainFormTest::SelectionDialogAgainUntilOneIsChosen() {
    SetSim("device A6012345\ndevice A601ABCD\ntdo_constant 0\n");
    const QString File = WriteFile(InFolder("two.svf"), "SIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File});
    W->show();
    // OK with nothing selected names no programmer among two: the dialog comes back; then the
    // second one is picked.
    int Shown = 0;
    AnswerDialog = [&](QDialog& D) {
        if (++Shown == 2)
            Child<TRadioGroup>(D, "serialGroup")->Button(1)->click();
        return int(QDialog::Accepted);
    };
    ProcessLast(*W);
    QCOMPARE(Dialogs.size(), 2);
    QVERIFY(W->Controller().Processing());
    QCOMPARE(Child<QLabel>(*W, "statusLabel")->text(), QStringLiteral("Using KORVEX S/N 01ABCD"));
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N 01ABCD"));

    // Cancel: no run, no message, the console keeps the last run.
    W->Controller().Link.SerialNumber = 0x777777; // not attached
    const QString Before = Console(*W)->Text();
    AnswerDialog = nullptr;
    ProcessLast(*W);
    QCOMPARE(Dialogs.size(), 3);
    QVERIFY(!W->Controller().Processing());
    QVERIFY(ErrorBoxes.isEmpty());
    QCOMPARE(Console(*W)->Text(), Before);
}

void TMainFormTest::OptionsThroughTheMenu() {
    WriteFile(Ini, "[Params]\nDefFreq=7\nSecurityTime=25\n");
    auto W = MakeForm({});
    QString Shown;
    AnswerDialog = [&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        for (int I = 0; I < Child<TRadioGroup>(F, "DefFreq")->Count(); ++I)
            if (Child<TRadioGroup>(F, "DefFreq")->Button(I)->isChecked())
                Shown = Child<TRadioGroup>(F, "DefFreq")->Button(I)->text();
        Child<TRadioGroup>(F, "PActive")->Button(3)->click();
        return int(QDialog::Accepted);
    };
    Action(*W, "programOptionsAction")->trigger();
    QCOMPARE(Shown, QStringLiteral("max. 750kHz"));
    QCOMPARE(int(W->Controller().Options().DefFreq), 2);
    QCOMPARE(int(W->Controller().Options().PActive), 3);
    QCOMPARE(int(W->Controller().Options().SecurityTime), 25);

    AnswerDialog = [&](QDialog& D) {
        Child<TRadioGroup>(D, "DefFreq")->Button(0)->click();
        return int(QDialog::Rejected);
    };
    Action(*W, "programOptionsAction")->trigger();
    QCOMPARE(int(W->Controller().Options().DefFreq), 2);
}

void TMainFormTest::HelpWithF1AndEscape() {
    auto W = MakeForm({});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    QVERIFY(!Child<THelpForm>(*W, "helpWindow")->isVisible());
    QTest::keyClick(Console(*W), Qt::Key_F1);
    QVERIFY(Child<THelpForm>(*W, "helpWindow")->isVisible());
    QVERIFY(Child<THelpForm>(*W, "helpWindow")->windowState() & Qt::WindowMaximized);
    QVERIFY(!Child<THelpForm>(*W, "helpWindow")->isModal());
    QTest::keyClick(Child<QTextBrowser>(*W, "helpView"), Qt::Key_Escape);
    QVERIFY(!Child<THelpForm>(*W, "helpWindow")->isVisible());
    W->activateWindow();
    QTest::keyClick(Console(*W), Qt::Key_F1);
    QVERIFY(Child<THelpForm>(*W, "helpWindow")->isVisible());
    // Closing the main window takes the help window with it.
    QVERIFY(W->close());
    QVERIFY(!Child<THelpForm>(*W, "helpWindow")->isVisible());
}

void TMainFormTest::DriverMissingClosesWithTwo() {
    korvextest::UseDriverLibrary(InFolder("no-such-driver.so").toStdString());
    auto W = MakeForm({"-P", "-F", "whatever.svf", "-S", "012345"});
    Child<QTimer>(*W, "pollTimer")->start();
    W->show();
    QCOMPARE(ErrorBoxes.size(), 1);
    // The documented text, then what was tried.
    QVERIFY2(ErrorBoxes[0].startsWith("USB drivers not found or bad version.\nTried "),
             qPrintable(ErrorBoxes[0]));
    QVERIFY(ErrorBoxes[0].contains("no-such-driver.so"));
    QTRY_VERIFY(!W->isVisible());
    QCOMPARE(W->Controller().ExitCode, uint8_t(2));
    QVERIFY(QFile::exists(Ini)); // closing saved the settings
    QTest::qWait(250);           // no automatic run behind the closed window
    QCOMPARE(ErrorBoxes.size(), 1);
    QVERIFY(Dialogs.isEmpty());
}

void TMainFormTest::PlacementRemembered() {
    QRect Placed;
    {
        auto W = MakeForm({});
        W->show();
        QVERIFY(QTest::qWaitForWindowExposed(W.get()));
        W->setGeometry(40, 50, 700, 420);
        Placed = W->geometry();
        QVERIFY(W->close());
    }
    // The window opens where it was closed, start after start: it does not creep by its frame.
    for (int Start = 0; Start < 3; ++Start) {
        auto W = MakeForm({});
        W->show();
        QVERIFY(QTest::qWaitForWindowExposed(W.get()));
        QCOMPARE(W->geometry(), Placed);
        QVERIFY(W->close());
    }
}

void TMainFormTest::UnattendedRunExitCodes_data() {
    QTest::addColumn<QByteArray>("Sim");
    QTest::addColumn<QString>("File");
    QTest::addColumn<QByteArray>("Content");
    QTest::addColumn<QString>("Serial"); // -S, none when empty
    QTest::addColumn<bool>("Driver");
    QTest::addColumn<int>("ExitCode");
    QTest::addColumn<QString>("Reported"); // on standard error, nothing when empty
    const QByteArray Two = "device A6012345\ndevice A601ABCD\ntdo_constant 0\n";
    const QByteArray Sir = "SIR 8 TDI(01);\n";
    QTest::newRow("completed") << QByteArray("tdo_constant 0\n") << "run_ok.svf"
                               << QByteArray("SDR 8 TDI(00) TDO(00) MASK(FF);\n") << "012345"
                               << true << 0 << "";
    QTest::newRow("failed") << QByteArray("tdo_constant 0\n") << "run_bad.svf"
                            << QByteArray("SDR 8 TDI(00) TDO(FF) MASK(FF);\n") << "012345" << true
                            << 1 << "";
    QTest::newRow("unknown type") << QByteArray("tdo_constant 0\n") << "run.txt"
                                  << QByteArray("nothing\n") << "012345" << true << 2 << "";
    QTest::newRow("file missing") << QByteArray("tdo_constant 0\n") << "run_missing.svf"
                                  << QByteArray() << "012345" << true << 2 << "";
    // No box waits for an answer when the run is unattended.
    QTest::newRow("no programmer") << QByteArray("no_devices\n") << "run_nodev.svf" << Sir
                                   << "012345" << true << 2 << "KORVEX not found";
    QTest::newRow("no driver") << QByteArray("tdo_constant 0\n") << "run_nodrv.svf" << Sir
                               << "012345" << false << 2 << "USB drivers not found or bad version.";
    // The programmer is chosen without the dialog: -S, else the only one attached.
    QTest::newRow("-S not attached") << Two << "run_s.svf" << Sir << "777777" << true << 2
                                     << "KORVEX S/N 777777 not found; attached: 012345, 01ABCD";
    QTest::newRow("several, none named")
        << Two << "run_two.svf" << Sir << "" << true << 2
        << "several KORVEX programmers are attached (S/N 012345, 01ABCD); choose one with -S";
    QTest::newRow("the only one") << QByteArray("device A601ABCD\ntdo_constant 0\n")
                                  << "run_one.svf" << Sir << "" << true << 0 << "";
    QTest::newRow("-S attached") << Two << "run_named.svf" << Sir << "01abcd" << true << 0 << "";
}

void TMainFormTest::UnattendedRunExitCodes() {
    QFETCH(QByteArray, Sim);
    QFETCH(QString, File);
    QFETCH(QByteArray, Content);
    QFETCH(QString, Serial);
    QFETCH(bool, Driver);
    QFETCH(int, ExitCode);
    QFETCH(QString, Reported);
    const QString Path = Content.isEmpty() ? InFolder(File) : WriteFile(InFolder(File), Content);
    const QString Config = WriteFile(InFolder("unattended.cfg"), Sim);
    QProcess P;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(korvextest::DriverVariable(),
               Driver ? QString(KORVEX_SIM_LIBRARY) : InFolder("none.so"));
    Env.insert("KORVEX_SIM", Config);
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    P.setProcessEnvironment(Env);
    QStringList Args = {"-I", Ini, "-P", "-F", Path, "-C", "-CC"};
    if (!Serial.isEmpty())
        Args << "-S" << Serial;
    P.start(KORVEX_PLAYER_EXE, Args);
    QVERIFY(P.waitForStarted());
    QVERIFY(P.waitForFinished(20000));
    QCOMPARE(P.exitStatus(), QProcess::NormalExit);
    QCOMPARE(P.exitCode(), ExitCode);
    const QString Err = QString::fromLocal8Bit(P.readAllStandardError());
    if (!Reported.isEmpty())
        QVERIFY2(Err.contains("korvex-player: " + Reported), qPrintable(Err));
}

void TMainFormTest::UnattendedSaveFailureGoesToStandardError() {
    // The settings file cannot be written (a folder has its name): no box, a line on standard
    // error, and the run's own exit code.
    const QString Folder = InFolder("blocked.ini");
    QDir().mkpath(Folder);
    const QString Path = WriteFile(InFolder("save.svf"), "SIR 8 TDI(01);\n");
    QProcess P;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(korvextest::DriverVariable(), KORVEX_SIM_LIBRARY);
    Env.insert("KORVEX_SIM", WriteFile(InFolder("save.cfg"), "tdo_constant 0\n"));
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    P.setProcessEnvironment(Env);
    P.start(KORVEX_PLAYER_EXE, {"-I", Folder, "-S", "012345", "-P", "-F", Path, "-C", "-CC"});
    QVERIFY(P.waitForStarted());
    QVERIFY(P.waitForFinished(20000));
    QCOMPARE(P.exitCode(), 0);
    const QString Err = QString::fromLocal8Bit(P.readAllStandardError());
    QVERIFY2(Err.contains("korvex-player: Unable to write to " + Folder), qPrintable(Err));
    QVERIFY2(Err.contains("left as it was"), qPrintable(Err));
}

void TMainFormTest::SignalsCancelCloseAndSave_data() {
    QTest::addColumn<int>("Signal");
    QTest::addColumn<bool>("Running");
    QTest::newRow("SIGTERM during a run") << int(SIGTERM) << true;
    QTest::newRow("SIGINT during a run") << int(SIGINT) << true;
    QTest::newRow("SIGHUP during a run") << int(SIGHUP) << true;
    QTest::newRow("SIGTERM while idle") << int(SIGTERM) << false;
}

void TMainFormTest::SignalsCancelCloseAndSave() {
    QFETCH(int, Signal);
    QFETCH(bool, Running);
    // A wait of half an hour that the simulator carries out in real time, as the programmer
    // would: the link sends it in slices, so a cancel does not wait for its end.
    const QByteArray Svf = "SIR 8 TDI(01);\nRUNTEST 2000 SEC;\n";
    const QString File = WriteFile(InFolder("signal.svf"), Svf);
    WriteFile(Ini, "[Params]\nRTwCount=0\n");
    const QString Trace = InFolder("signal-trace.txt");
    QFile::remove(Trace);
    QProcess P;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(korvextest::DriverVariable(), KORVEX_SIM_LIBRARY);
    Env.insert("KORVEX_SIM",
               WriteFile(InFolder("signal.cfg"),
                         "tdo_constant 0\nrealtime 1\ntrace " + Trace.toLocal8Bit() + "\n"));
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    P.setProcessEnvironment(Env);
    QStringList Args = {"-I", Ini, "-S", "012345", "-F", File};
    if (Running)
        Args << "-P";
    P.start(KORVEX_PLAYER_EXE, Args);
    QVERIFY(P.waitForStarted());
    QTest::qWait(Running ? 3000 : 500); // a few steps into the run
    ::kill(static_cast<pid_t>(P.processId()), Signal);
    QVERIFY(P.waitForFinished(60000));
    QCOMPARE(P.exitStatus(), QProcess::NormalExit);
    QCOMPARE(P.exitCode(), 1);
    QFile Saved(Ini);
    QVERIFY(Saved.open(QIODevice::ReadOnly));
    const QByteArray Settings = Saved.readAll();
    QVERIFY(Settings.contains("[Params]") && Settings.contains("[Window]"));
    if (Running) {
        QFile T(Trace);
        QVERIFY(T.open(QIODevice::ReadOnly));
        const QByteArray Seen = T.readAll();
        // Closed properly: the simulator saw the closing bytes (VPP to its after-run state),
        // and the run was cut short.
        QVERIFY2(Seen.contains("TOTAL"), "the programmer was not closed");
        const int Total = Seen.indexOf("TOTAL");
        const int Us = Seen.indexOf(" US ", Total);
        QVERIFY(Us > Total);
        const long long DeviceUs = Seen.mid(Us + 4).split(' ').value(0).toLongLong();
        QVERIFY2(DeviceUs > 0 && DeviceUs < 60'000'000,
                 qPrintable("the run was not cancelled: device time " + QString::number(DeviceUs)));
    }
}

QTEST_MAIN(TMainFormTest)
#include "main_form_test.moc"
