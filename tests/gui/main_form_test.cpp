#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include "driver_env.h"
#include "help_form.h"
#include "main_form.h"
#include "options_form.h"
#include "player_registration.h"
#include "qt_console_view.h"
#include "qt_dialog_seam.h"
#include "qt_radio_group.h"
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

QStringList ConsoleLines(const TJtagMainForm& W) {
    return W.MainMemo->Text().split(u'\n');
}

QColor LineColor(const TJtagMainForm& W, int Line) {
    return W.MainMemo->LineColor(Line);
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

private:
    std::unique_ptr<TJtagMainForm> MakeForm(QStringList Args);
    void SetSim(const QByteArray& Config);
    void Tick(TJtagMainForm& W, int Count = 1);
    // Ticks until the console shows a line starting with Text, at most Ms milliseconds.
    bool WaitForLine(TJtagMainForm& W, const QString& Text, int Ms = 10000);

    QTemporaryDir Dir;
    QString Ini;
    QStringList ErrorBoxes;
    QStringList Dialogs;                       // class names of the dialogs run modally
    std::function<int(QDialog&)> AnswerDialog; // how the next modal dialogs are answered
};

void TMainFormTest::initTestCase() {
    QVERIFY(Dir.isValid());
    RegisterPlayers();
    korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
    KorvexDialogs::SetErrorBoxHook([this](QWidget*, const QString& Text) { ErrorBoxes << Text; });
    KorvexDialogs::SetExecHook([this](QDialog& D) {
        Dialogs << QString::fromLatin1(D.metaObject()->className());
        return AnswerDialog ? AnswerDialog(D) : int(QDialog::Rejected);
    });
}

void TMainFormTest::init() {
    Ini = Dir.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
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
    auto W = std::make_unique<TJtagMainForm>(Dir.filePath("korvex-player").toStdString(), A);
    W->Timer->stop(); // the tests tick by hand, so every step is deterministic
    return W;
}

void TMainFormTest::SetSim(const QByteArray& Config) {
    qputenv("KORVEX_SIM", WriteFile(Dir.filePath("sim.cfg"), Config).toLocal8Bit());
}

void TMainFormTest::Tick(TJtagMainForm& W, int Count) {
    for (int I = 0; I < Count; ++I)
        W.TimerTimer();
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
        {W->File1, 0, "&Open && Process", QKeySequence(Qt::Key_O)},
        {W->File1, 1, "&Process Last File", QKeySequence(Qt::Key_P)},
        {W->File1, 2, "&Stop", QKeySequence(Qt::Key_S)},
        {W->File1, 4, "&Close", QKeySequence(Qt::Key_X)},
        {W->Options1, 0, "Program &Options", {}},
        {W->Options1, 1, "Write SVF file comments into console", {}},
        {W->Options1, 2, "Select Korvex", {}},
        {W->Help1, 0, "Show &Help && Programming Tips", QKeySequence(Qt::Key_F1)},
    };
    for (const auto& R : Rows) {
        QAction* A = R.Menu->actions().value(R.Position);
        QVERIFY(A);
        QCOMPARE(A->text(), R.Caption);
        QCOMPARE(A->shortcut(), R.Shortcut);
    }
    QVERIFY(W->File1->actions()[3]->isSeparator());
    QVERIFY(W->Copycommentstoconsole1->isCheckable());
    QVERIFY(W->Copycommentstoconsole1->isChecked());
    QVERIFY(!W->Stop1->isEnabled()); // only during a run

    // The window's parts.
    QVERIFY(QFontInfo(W->MainMemo->font()).fixedPitch());
    QCOMPARE(W->MainPanel->height(), 49);
    QCOMPARE(W->Timer->interval(), 100);
    QCOMPARE(W->MainStatus->text(), QString());
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
        W->SetProgress(R.Max, R.Position);
        QVERIFY(W->MainProgress->maximum() > 0);
        const double Shown = double(W->MainProgress->value()) / W->MainProgress->maximum();
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
    W->MainMemo->setFocus();
    QTest::keyClick(W->MainMemo, Qt::Key_O);
    QCOMPARE(Dialogs, QStringList{"QFileDialog"});
    QCOMPARE(Title, QStringLiteral("Open file for process"));
    QCOMPARE(Filters, (QStringList{"SVF files (*.svf)", "XSVF files (*.xsvf)",
                                   "All supported files (*.SVF *.XSVF)"}));
    QCOMPARE(Filter, QStringLiteral("All supported files (*.SVF *.XSVF)"));
    QVERIFY(!W->Controller.Processing()); // cancelled: nothing runs

    // With a modifier the letter is not the shortcut.
    QTest::keyClick(W->MainMemo, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(Dialogs.size(), 1);
}

void TMainFormTest::PNeedsAnExistingLastFile() {
    auto W = MakeForm({});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    QTest::keyClick(W->MainMemo, Qt::Key_P);
    QVERIFY(Dialogs.isEmpty()); // not even the programmer selection
    QVERIFY(!W->Controller.Processing());
    W->File1Click();
    QVERIFY(!W->MenuProcess->isEnabled());

    // A file chosen: P works even though the menu has not been opened since.
    const QString File = WriteFile(Dir.filePath("p.svf"), "SIR 8 TDI(01);\n");
    W->Controller.LastFileName = File.toStdString();
    QTest::keyClick(W->MainMemo, Qt::Key_P);
    QCOMPARE(Dialogs, QStringList{"TJTAGKorvexSelectionForm"}); // first run: which KORVEX?
    QVERIFY(W->MenuProcess->isEnabled());

    // The file deleted: disabled again.
    QFile::remove(File);
    W->File1Click();
    QVERIFY(!W->MenuProcess->isEnabled());
    QTest::keyClick(W->MainMemo, Qt::Key_P);
    QCOMPARE(Dialogs.size(), 1);
}

void TMainFormTest::WholeRunFromProcessLastFile() {
    const QString File = WriteFile(Dir.filePath("ok.svf"), "! erase the part\n"
                                                           "SIR 8 TDI(01);\n"
                                                           "SDR 8 TDI(00) TDO(00) MASK(FF);\n"
                                                           "RUNTEST 100 TCK;\n");
    auto W = MakeForm({"-F", File});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    // The programmer is chosen in the selection dialog on this first run.
    AnswerDialog = [](QDialog& D) {
        auto& S = static_cast<TJTAGKorvexSelectionForm&>(D);
        S.RadioGroup->Button(0)->click();
        return int(QDialog::Accepted);
    };
    W->File1Click();
    QVERIFY(W->MenuProcess->isEnabled());
    W->MenuProcess->trigger();
    QCOMPARE(Dialogs, QStringList{"TJTAGKorvexSelectionForm"});
    QCOMPARE(W->MainStatus->text(), QStringLiteral("Using KORVEX S/N 012345"));
    QVERIFY(W->Controller.Processing());
    QVERIFY(W->Stop1->isEnabled());

    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QVERIFY(!W->Controller.Processing());
    QVERIFY(!W->Stop1->isEnabled());
    QCOMPARE(W->Controller.ExitCode, uint8_t(0));
    QCOMPARE(W->MainProgress->value(), W->MainProgress->maximum());

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
    W->MenuProcess->trigger();
    QCOMPARE(Dialogs.size(), 1);
    QCOMPARE(W->MainMemo->Text(), QString());
    Tick(*W);
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N 012345"));
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(FindLine(*W, "File processing completed successfully"), int(L.size()) - 1);
}

void TMainFormTest::FailedRunIsRed() {
    const QString File = WriteFile(Dir.filePath("bad.svf"), "SDR 8 TDI(00) TDO(FF) MASK(FF);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    W->MenuProcessClick();
    QVERIFY(WaitForLine(*W, "!! ERROR !! File processing failed"));
    QCOMPARE(W->Controller.ExitCode, uint8_t(1));
    const QStringList L = ConsoleLines(*W);
    const int Reading = FindLine(*W, "Reading file ");
    QVERIFY(L.size() > Reading + 2); // the player's own report comes before the outcome
    for (int I = Reading + 1; I < L.size(); ++I)
        QCOMPARE(LineColor(*W, I), Red);
    QCOMPARE(LineColor(*W, Reading), Black);
}

void TMainFormTest::CommentsItemControlsGreyLines() {
    const QString File = WriteFile(Dir.filePath("c.svf"), "! first note\nSIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    W->Copycommentstoconsole1->trigger(); // unchecks
    QVERIFY(!W->Copycommentstoconsole1->isChecked());
    W->MenuProcessClick();
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(FindLine(*W, "! first note"), -1);
    W->Copycommentstoconsole1->trigger();
    W->MenuProcessClick();
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QVERIFY(FindLine(*W, "! first note") > 0);
    W->close();
    // Unchecked survives a restart through the settings file.
    W->Copycommentstoconsole1->setChecked(false);
    W->Controller.FormClose();
    auto Again = MakeForm({});
    QVERIFY(!Again->Copycommentstoconsole1->isChecked());
}

void TMainFormTest::ClosingRefusedDuringRunAndStop() {
    // Every read-back is answered late, so the run lasts long enough to try closing it.
    SetSim("tdo_constant 0\nreply_delay_ms 150\n");
    QByteArray Svf;
    for (int I = 0; I < 200; ++I)
        Svf += "SDR 8 TDI(00) TDO(00) MASK(FF);\n";
    const QString File = WriteFile(Dir.filePath("slow.svf"), Svf);
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    W->MenuProcessClick();
    QVERIFY(W->Controller.Processing());

    QVERIFY(!W->close());
    QCOMPARE(ErrorBoxes, QStringList{"Please wait until file processing is done."});
    QVERIFY(W->isVisible());
    QTest::keyClick(W->MainMemo, Qt::Key_X); // the shortcut closes the same way
    QCOMPARE(ErrorBoxes.size(), 2);
    QVERIFY(W->isVisible());

    // O and P do nothing during a run.
    QTest::keyClick(W->MainMemo, Qt::Key_O);
    QTest::keyClick(W->MainMemo, Qt::Key_P);
    QVERIFY(Dialogs.isEmpty());

    QTest::keyClick(W->MainMemo, Qt::Key_S);
    QVERIFY(WaitForLine(*W, "!! ERROR !! File processing failed"));
    QCOMPARE(W->Controller.ExitCode, uint8_t(1));
    QVERIFY(!W->Stop1->isEnabled());

    // The programmer was released: the next run opens it again and completes.
    SetSim("tdo_constant 0\n");
    W->MenuProcessClick();
    QVERIFY(WaitForLine(*W, "File processing completed successfully", 30000));
    QVERIFY(W->close());
    QCOMPARE(ErrorBoxes.size(), 2);
}

void TMainFormTest::NoProgrammerKeepsConsole() {
    const QString File = WriteFile(Dir.filePath("n.svf"), "SIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File, "-S", "012345"});
    W->show();
    W->MenuProcessClick();
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    const QString Before = W->MainMemo->Text();

    SetSim("no_devices\n");
    W->MenuProcessClick();
    QCOMPARE(ErrorBoxes, QStringList{"KORVEX not found"});
    QVERIFY(!W->Controller.Processing());
    Tick(*W);
    QCOMPARE(W->MainMemo->Text(), Before);
}

void TMainFormTest::SelectKorvexSetsSerial() {
    SetSim("device A6012345\ndevice A601ABCD\n");
    auto W = MakeForm({});
    W->show();
    QStringList Items;
    AnswerDialog = [&](QDialog& D) {
        auto& S = static_cast<TJTAGKorvexSelectionForm&>(D);
        Items = S.RadioGroup->Items();
        S.RadioGroup->Button(1)->click();
        return int(QDialog::Accepted);
    };
    W->SelectKorvex1->trigger();
    QCOMPARE(Items, (QStringList{"S/N 012345", "S/N 01ABCD"}));
    QCOMPARE(W->Controller.Link.SerialNumber, int32_t(0xA601ABCD));

    AnswerDialog = [](QDialog& D) {
        static_cast<TJTAGKorvexSelectionForm&>(D).RadioGroup->Button(0)->click();
        return int(QDialog::Rejected);
    };
    W->SelectKorvex1->trigger();
    QCOMPARE(W->Controller.Link.SerialNumber, int32_t(0xA601ABCD)); // Cancel keeps it

    // A run started now finds the chosen programmer at once and names it as the dialog stored it.
    W->Controller.LastFileName = WriteFile(Dir.filePath("s.svf"), "SIR 8 TDI(01);\n").toStdString();
    W->MenuProcessClick();
    QCOMPARE(Dialogs.size(), 2);
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N A601ABCD"));
}

void TMainFormTest::SelectionDialogAgainUntilOneIsChosen() {
    SetSim("device A6012345\ndevice A601ABCD\ntdo_constant 0\n");
    const QString File = WriteFile(Dir.filePath("two.svf"), "SIR 8 TDI(01);\n");
    auto W = MakeForm({"-F", File});
    W->show();
    // OK with nothing selected names no programmer among two: the dialog comes back; then the
    // second one is picked.
    int Shown = 0;
    AnswerDialog = [&](QDialog& D) {
        if (++Shown == 2)
            static_cast<TJTAGKorvexSelectionForm&>(D).RadioGroup->Button(1)->click();
        return int(QDialog::Accepted);
    };
    W->MenuProcessClick();
    QCOMPARE(Dialogs.size(), 2);
    QVERIFY(W->Controller.Processing());
    QCOMPARE(W->MainStatus->text(), QStringLiteral("Using KORVEX S/N 01ABCD"));
    QVERIFY(WaitForLine(*W, "File processing completed successfully"));
    QCOMPARE(ConsoleLines(*W).first(), QStringLiteral("Using KORVEX S/N 01ABCD"));

    // Cancel: no run, no message, the console keeps the last run.
    W->Controller.Link.SerialNumber = 0x777777; // not attached
    const QString Before = W->MainMemo->Text();
    AnswerDialog = nullptr;
    W->MenuProcessClick();
    QCOMPARE(Dialogs.size(), 3);
    QVERIFY(!W->Controller.Processing());
    QVERIFY(ErrorBoxes.isEmpty());
    QCOMPARE(W->MainMemo->Text(), Before);
}

void TMainFormTest::OptionsThroughTheMenu() {
    WriteFile(Ini, "[Params]\nDefFreq=7\nSecurityTime=25\n");
    auto W = MakeForm({});
    QString Shown;
    AnswerDialog = [&](QDialog& D) {
        auto& F = static_cast<TOptionsForm&>(D);
        for (int I = 0; I < F.DefFreq->Count(); ++I)
            if (F.DefFreq->Button(I)->isChecked())
                Shown = F.DefFreq->Button(I)->text();
        F.PActive->Button(3)->click();
        return int(QDialog::Accepted);
    };
    W->Options2->trigger();
    QCOMPARE(Shown, QStringLiteral("max. 750kHz"));
    QCOMPARE(int(W->Controller.Link.DefFreq), 2);
    QCOMPARE(int(W->Controller.Link.PActive), 3);
    QCOMPARE(int(W->Controller.Link.SecurityTime), 25);

    AnswerDialog = [&](QDialog& D) {
        static_cast<TOptionsForm&>(D).DefFreq->Button(0)->click();
        return int(QDialog::Rejected);
    };
    W->Options2->trigger();
    QCOMPARE(int(W->Controller.Link.DefFreq), 2);
}

void TMainFormTest::HelpWithF1AndEscape() {
    auto W = MakeForm({});
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    QVERIFY(!W->HelpForm->isVisible());
    QTest::keyClick(W->MainMemo, Qt::Key_F1);
    QVERIFY(W->HelpForm->isVisible());
    QVERIFY(W->HelpForm->windowState() & Qt::WindowMaximized);
    QVERIFY(!W->HelpForm->isModal());
    QTest::keyClick(W->HelpForm->Text, Qt::Key_Escape);
    QVERIFY(!W->HelpForm->isVisible());
    W->activateWindow();
    QTest::keyClick(W->MainMemo, Qt::Key_F1);
    QVERIFY(W->HelpForm->isVisible());
    // Closing the main window takes the help window with it.
    QVERIFY(W->close());
    QVERIFY(!W->HelpForm->isVisible());
}

void TMainFormTest::DriverMissingClosesWithTwo() {
    korvextest::UseDriverLibrary(Dir.filePath("no-such-driver.so").toStdString());
    auto W = MakeForm({"-P", "-F", "whatever.svf", "-S", "012345"});
    W->Timer->start();
    W->show();
    QCOMPARE(ErrorBoxes, QStringList{"USB drivers not found or bad version."});
    QTRY_VERIFY(!W->isVisible());
    QCOMPARE(W->Controller.ExitCode, uint8_t(2));
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
    auto W = MakeForm({});
    QCOMPARE(W->size(), Placed.size());
    QCOMPARE(W->pos(), Placed.topLeft());
}

void TMainFormTest::UnattendedRunExitCodes_data() {
    QTest::addColumn<QByteArray>("Sim");
    QTest::addColumn<QString>("File");
    QTest::addColumn<QByteArray>("Content");
    QTest::addColumn<int>("ExitCode");
    QTest::addColumn<bool>("Driver");
    QTest::newRow("completed") << QByteArray("tdo_constant 0\n") << "run_ok.svf"
                               << QByteArray("SDR 8 TDI(00) TDO(00) MASK(FF);\n") << 0 << true;
    QTest::newRow("failed") << QByteArray("tdo_constant 0\n") << "run_bad.svf"
                            << QByteArray("SDR 8 TDI(00) TDO(FF) MASK(FF);\n") << 1 << true;
    QTest::newRow("unknown type") << QByteArray("tdo_constant 0\n") << "run.txt"
                                  << QByteArray("nothing\n") << 2 << true;
    QTest::newRow("file missing") << QByteArray("tdo_constant 0\n") << "run_missing.svf"
                                  << QByteArray() << 2 << true;
    // No box waits for an answer when the run is unattended.
    QTest::newRow("no programmer") << QByteArray("no_devices\n") << "run_nodev.svf"
                                   << QByteArray("SIR 8 TDI(01);\n") << 2 << true;
    QTest::newRow("no driver") << QByteArray("tdo_constant 0\n") << "run_nodrv.svf"
                               << QByteArray("SIR 8 TDI(01);\n") << 2 << false;
}

void TMainFormTest::UnattendedRunExitCodes() {
    QFETCH(QByteArray, Sim);
    QFETCH(QString, File);
    QFETCH(QByteArray, Content);
    QFETCH(int, ExitCode);
    QFETCH(bool, Driver);
    const QString Path =
        Content.isEmpty() ? Dir.filePath(File) : WriteFile(Dir.filePath(File), Content);
    const QString Config = WriteFile(Dir.filePath("unattended.cfg"), Sim);
    QProcess P;
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert(korvextest::DriverVariable(),
               Driver ? QString(KORVEX_SIM_LIBRARY) : Dir.filePath("none.so"));
    Env.insert("KORVEX_SIM", Config);
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    P.setProcessEnvironment(Env);
    P.start(KORVEX_PLAYER_EXE, {"-I", Ini, "-S", "012345", "-P", "-F", Path, "-C", "-CC"});
    QVERIFY(P.waitForStarted());
    QVERIFY(P.waitForFinished(20000));
    QCOMPARE(P.exitStatus(), QProcess::NormalExit);
    QCOMPARE(P.exitCode(), ExitCode);
    if (!Driver)
        QVERIFY(P.readAllStandardError().contains("USB drivers not found or bad version."));
    if (Sim.startsWith("no_devices"))
        QVERIFY(P.readAllStandardError().contains("KORVEX not found"));
}

QTEST_MAIN(TMainFormTest)
#include "main_form_test.moc"
