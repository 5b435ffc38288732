#include "main_form.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "help_form.h"
#include "ini_file.h"
#include "options_form.h"
#include "qt_console_view.h"
#include "qt_dialog_seam.h"
#include "selection_form.h"

namespace {
// The window's own section of the settings file, beside the "Params" of the options.
constexpr const char* WindowSection = "Window";

// Marks a controller call as under way for as long as it lasts.
class TBusy {
public:
    explicit TBusy(bool& Flag) : FFlag(Flag) { FFlag = true; }
    ~TBusy() { FFlag = false; }

private:
    bool& FFlag;
};
} // namespace

QString MainFormCaption(const QString& Version) {
    return QStringLiteral("JTAG SVF Player for KORVEX ") + Version;
}

TQtNameFilters QtNameFilters(const TOpenDialogFilter& Filter) {
    const QStringList Parts = QString::fromStdString(Filter.Filter).split(u'|');
    static const QRegularExpression ShowsPatterns(QStringLiteral("\\([^()]*\\)\\s*$"));
    TQtNameFilters Out;
    for (qsizetype I = 0; I + 1 < Parts.size(); I += 2) {
        const QString& Description = Parts[I];
        if (ShowsPatterns.match(Description).hasMatch())
            Out.Filters << Description;
        else
            Out.Filters << Description + QStringLiteral(" (") +
                               QString(Parts[I + 1]).replace(u';', u' ') + u')';
    }
    Out.Selected = Out.Filters.value(Filter.FilterIndex - 1, Out.Filters.value(0));
    return Out;
}

TJtagMainForm::TJtagMainForm(const std::string& ExecutablePath,
                             const std::vector<std::string>& Args, QWidget* Parent)
    : QMainWindow(Parent), FController(*this) {
    setObjectName(QStringLiteral("mainWindow"));
    CreateLayout();
    CreateMenus();
    CreateOpenDialog();
    resize(537, 259 + menuBar()->sizeHint().height());

    helpWindow = new THelpForm(this);
    helpWindow->setObjectName(QStringLiteral("helpWindow"));

    FController.Configure(ExecutablePath, ParseCommandLine(Args));
    FUnattended = FController.AutoProcess && FController.CloseOnError;
    setWindowTitle(MainFormCaption(QCoreApplication::applicationVersion()));
    const TQtNameFilters Filters = QtNameFilters(FController.OpenDialogFilter());
    openDialog->setNameFilters(Filters.Filters);
    openDialog->selectNameFilter(Filters.Selected);
    writeCommentsAction->setChecked(FController.Options().WriteComments);
    LoadWindowPlacement();
    UpdateFileMenu();

    // The shortcut letters of the File menu first bring the menu's items up to date.
    qApp->installEventFilter(this);

    pollTimer = new QTimer(this);
    pollTimer->setObjectName(QStringLiteral("pollTimer"));
    pollTimer->setInterval(100);
    connect(pollTimer, &QTimer::timeout, this, &TJtagMainForm::Poll);
    pollTimer->start();
}

TJtagMainForm::~TJtagMainForm() {
    qApp->removeEventFilter(this);
}

void TJtagMainForm::CreateLayout() {
    auto* Central = new QWidget(this);
    auto* Column = new QVBoxLayout(Central);
    Column->setContentsMargins(0, 0, 0, 0);
    Column->setSpacing(0);

    progressPanel = new QWidget(Central);
    progressPanel->setObjectName(QStringLiteral("progressPanel"));
    progressPanel->setFixedHeight(49);
    auto* PanelLayout = new QVBoxLayout(progressPanel);
    PanelLayout->setContentsMargins(9, 15, 9, 15);
    progressBar = new QProgressBar(progressPanel);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setFixedHeight(19);
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    PanelLayout->addWidget(progressBar);
    Column->addWidget(progressPanel);

    separatorLine = new QFrame(Central);
    separatorLine->setObjectName(QStringLiteral("separatorLine"));
    separatorLine->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separatorLine->setFixedHeight(4);
    auto* SeparatorRow = new QHBoxLayout;
    SeparatorRow->setContentsMargins(2, 1, 2, 2);
    SeparatorRow->addWidget(separatorLine);
    Column->addLayout(SeparatorRow);

    consoleView = new TConsoleView(Central);
    consoleView->setObjectName(QStringLiteral("consoleView"));
    QFont Mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Mono.setStyleHint(QFont::Monospace);
    Mono.setPointSize(9);
    consoleView->setFont(Mono);
    auto* ConsoleRow = new QHBoxLayout;
    ConsoleRow->setContentsMargins(4, 3, 4, 4);
    ConsoleRow->addWidget(consoleView);
    Column->addLayout(ConsoleRow, 1);
    setCentralWidget(Central);

    statusLabel = new QLabel(this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusBar()->addWidget(statusLabel, 1);
    driverLabel = new QLabel(this);
    driverLabel->setObjectName(QStringLiteral("driverLabel"));
    statusBar()->addPermanentWidget(driverLabel);
    statusBar()->setSizeGripEnabled(true);
}

void TJtagMainForm::CreateMenus() {
    auto Item = [this](QMenu* Menu, const char* Name, const QString& Caption, int Key) {
        QAction* A = Menu->addAction(Caption);
        A->setObjectName(QString::fromLatin1(Name));
        if (Key)
            A->setShortcut(QKeySequence(Key)); // bare keys, no modifier
        return A;
    };

    fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    connect(fileMenu, &QMenu::aboutToShow, this, &TJtagMainForm::UpdateFileMenu);
    openAction = Item(fileMenu, "openAction", QStringLiteral("&Open && Process"), Qt::Key_O);
    connect(openAction, &QAction::triggered, this, &TJtagMainForm::OpenAndProcess);
    processLastAction =
        Item(fileMenu, "processLastAction", QStringLiteral("&Process Last File"), Qt::Key_P);
    connect(processLastAction, &QAction::triggered, this, &TJtagMainForm::ProcessLastFile);
    checkFileAction = Item(fileMenu, "checkFileAction", QStringLiteral("&Check File"), 0);
    connect(checkFileAction, &QAction::triggered, this, &TJtagMainForm::CheckFile);
    scanChainAction = Item(fileMenu, "scanChainAction", QStringLiteral("Scan JTAG C&hain"), 0);
    connect(scanChainAction, &QAction::triggered, this, &TJtagMainForm::ScanChain);
    stopAction = Item(fileMenu, "stopAction", QStringLiteral("&Stop"), Qt::Key_S);
    connect(stopAction, &QAction::triggered, this, [this] { FController.Stop(); });
    fileMenu->addSeparator()->setObjectName(QStringLiteral("fileSeparator"));
    closeAction = Item(fileMenu, "closeAction", QStringLiteral("&Close"), Qt::Key_X);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);

    optionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    optionsMenu->setObjectName(QStringLiteral("optionsMenu"));
    programOptionsAction =
        Item(optionsMenu, "programOptionsAction", QStringLiteral("Program &Options"), 0);
    connect(programOptionsAction, &QAction::triggered, this, &TJtagMainForm::EditProgramOptions);
    writeCommentsAction = Item(optionsMenu, "writeCommentsAction",
                               QStringLiteral("Write SVF file comments into console"), 0);
    writeCommentsAction->setCheckable(true);
    writeCommentsAction->setChecked(true);
    // Read by the next run at its start; a run in progress keeps its setting.
    connect(writeCommentsAction, &QAction::toggled, this, [this](bool Checked) {
        FController.Link.UpdateOptions([Checked](TRunOptions& O) { O.WriteComments = Checked; });
    });
    selectProgrammerAction =
        Item(optionsMenu, "selectProgrammerAction", QStringLiteral("Select Korvex"), 0);
    connect(selectProgrammerAction, &QAction::triggered, this, &TJtagMainForm::SelectProgrammer);

    helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    showHelpAction = Item(helpMenu, "showHelpAction",
                          QStringLiteral("Show &Help && Programming Tips"), Qt::Key_F1);
    connect(showHelpAction, &QAction::triggered, this, &TJtagMainForm::ShowHelp);
}

void TJtagMainForm::CreateOpenDialog() {
    openDialog = new QFileDialog(this, QStringLiteral("Open file for process"));
    openDialog->setObjectName(QStringLiteral("openDialog"));
    // Qt's own dialog behaves the same on every desktop and can be answered by the tests.
    openDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    openDialog->setFileMode(QFileDialog::ExistingFile);
    openDialog->setAcceptMode(QFileDialog::AcceptOpen);
    openDialog->setSizeGripEnabled(true);
    // File types are matched whatever the case of the name: A.SVF and a.svf alike.
    openDialog->setFilter(openDialog->filter() & ~QDir::CaseSensitive);
}

void TJtagMainForm::UpdateFileMenu() {
    processLastAction->setEnabled(FController.CanProcessLastFile());
    UpdateRunState();
}

void TJtagMainForm::UpdateRunState() {
    stopAction->setEnabled(FController.Processing());
    checkFileAction->setEnabled(!FController.Processing());
    scanChainAction->setEnabled(!FController.Processing());
}

void TJtagMainForm::OpenAndProcess() {
    if (FController.Processing())
        return;
    // The last file is the one offered first.
    if (!FController.LastFileName.empty()) {
        const QFileInfo Last(QString::fromStdString(FController.LastFileName));
        openDialog->setDirectory(Last.absolutePath());
        openDialog->selectFile(Last.fileName());
    }
    if (KorvexDialogs::ExecDialog(*openDialog) != QDialog::Accepted)
        return;
    const QStringList Chosen = openDialog->selectedFiles();
    if (Chosen.isEmpty())
        return;
    {
        TBusy Busy(FInController);
        FController.ProcessFile(Chosen.front().toStdString());
    }
    UpdateRunState();
}

void TJtagMainForm::ProcessLastFile() {
    {
        TBusy Busy(FInController);
        FController.ProcessLastFile();
    }
    UpdateRunState();
}

// "Check File": the file chosen as for "Open & Process", read to its end without the programmer;
// the report replaces the console.
void TJtagMainForm::CheckFile() {
    if (FController.Processing())
        return;
    if (KorvexDialogs::ExecDialog(*openDialog) != QDialog::Accepted)
        return;
    const QStringList Chosen = openDialog->selectedFiles();
    if (Chosen.isEmpty())
        return;
    TBusy Busy(FInController);
    FController.CheckVectorFile(Chosen.front().toStdString());
}

void TJtagMainForm::ScanChain() {
    TBusy Busy(FInController);
    FController.ScanChain();
}

void TJtagMainForm::EditProgramOptions() {
    TRunOptions Options = FController.Options();
    // The options change at once; a run in progress sees them at its next event.
    if (EditOptions(this, Options))
        FController.SetOptions(Options);
}

void TJtagMainForm::SelectProgrammer() {
    ShowSelectionDialog();
}

bool TJtagMainForm::ShowSelectionDialog() {
    TJTAGKorvexSelectionForm Form(this, [this] { return FController.Link.ListKorvexSerials(); });
    if (KorvexDialogs::ExecDialog(Form) != QDialog::Accepted)
        return false;
    FController.Link.SerialNumber = Form.SelectedSerial();
    return true;
}

void TJtagMainForm::ShowHelp() {
    helpWindow->ShowHelp();
}

void TJtagMainForm::CancelFromSignal() {
    FController.Cancel();
    // A dialog or box that is open would hold the close back: nobody is going to answer it.
    FUnattended = true;
    if (QWidget* Modal = QApplication::activeModalWidget())
        Modal->close();
}

void TJtagMainForm::Poll() {
    if (FInController)
        return;
    {
        TBusy Busy(FInController);
        FController.Poll();
    }
    UpdateRunState();
}

// --- IControllerView ----------------------------------------------------------------------------

void TJtagMainForm::ClearConsole() {
    consoleView->Clear();
}

void TJtagMainForm::ProcessPendingEvents() {
    // Paint the cleared console. Keys and clicks wait: a second command must not start while
    // this one is opening the programmer.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TJtagMainForm::WhileLoading() {
    // Reading a large file takes seconds: the window repaints and Stop (or a signal) is heard.
    // Another command cannot start meanwhile: the controller counts the load as processing.
    // The timer's poll is held back while the controller is busy, so the lines so far and the
    // Stop action's state are brought up to date here (a poll during a load does nothing else).
    FController.Poll();
    UpdateRunState();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TJtagMainForm::AppendConsoleLines(const std::vector<TConsoleLine>& Lines) {
    consoleView->AppendLines(Lines);
}

void TJtagMainForm::SetProgress(int64_t Max, int64_t Position) {
    // The bar counts in int; a larger maximum (a file of several GB) is scaled down.
    int64_t Scale = 1;
    if (Max > INT_MAX)
        Scale = Max / INT_MAX + 1;
    const int BarMax = Max > 0 ? static_cast<int>(Max / Scale) : 0;
    const int BarPos = static_cast<int>(std::clamp<int64_t>(Position / Scale, 0, BarMax));
    if (BarMax == 0) {
        // A zero range would turn the bar into a busy indicator.
        progressBar->setRange(0, 1);
        progressBar->setValue(Position >= Max && Max >= 0 && !FController.Processing() ? 1 : 0);
        return;
    }
    if (progressBar->maximum() != BarMax)
        progressBar->setMaximum(BarMax);
    progressBar->setValue(BarPos);
}

void TJtagMainForm::Quit() {
    // Closed from the event loop, not from inside the poll or the show that asked for it.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TJtagMainForm::ShowError(const std::string& Text) {
    if (FUnattended) {
        // The message goes where a script and a later look at the window can see it.
        std::fprintf(stderr, "korvex-player: %s\n", Text.c_str());
        FController.Messages.QueueMessage(Text, sevError);
        return;
    }
    KorvexDialogs::ShowErrorBox(this, QString::fromStdString(Text));
}

bool TJtagMainForm::ChooseProgrammer() {
    return FUnattended ? FController.ChooseWithoutDialog() : ShowSelectionDialog();
}

void TJtagMainForm::SetStatusText(const std::string& Text) {
    FStatusText = Text;
    statusLabel->setText(QString::fromStdString(Text));
}

void TJtagMainForm::SetRunTime(const std::string& Text, bool /*Finished*/) {
    statusLabel->setText(
        QString::fromStdString(FStatusText.empty() ? Text : FStatusText + "   " + Text));
}

void TJtagMainForm::SetDriverText(const std::string& Text) {
    driverLabel->setText(QString::fromStdString("USB driver: " + Text));
}

// --- Window events ------------------------------------------------------------------------------

void TJtagMainForm::showEvent(QShowEvent* Event) {
    QMainWindow::showEvent(Event);
    if (FShown)
        return;
    FShown = true;
    const bool DriverLoaded = FController.LoadDriver();
    if (!DriverLoaded) {
        // Without a driver there is nothing to run: an automatic run must not start searching.
        pollTimer->stop();
    }
}

void TJtagMainForm::closeEvent(QCloseEvent* Event) {
    if (!FController.CanClose()) {
        Event->ignore();
        return;
    }
    FController.SaveSettings([this](TIniFile& Ini) { WriteWindowPlacement(Ini); });
    helpWindow->hide();
    pollTimer->stop();
    Event->accept();
}

bool TJtagMainForm::eventFilter(QObject* Watched, QEvent* Event) {
    // A shortcut key of the File menu: the menu's own handler runs first, as when it opens, so
    // that P acts only when the last file still exists. The shortcut machinery then finds the
    // item enabled or not.
    if (Event->type() == QEvent::ShortcutOverride && Watched->isWidgetType() &&
        static_cast<QWidget*>(Watched)->window() == this) {
        const auto* Key = static_cast<QKeyEvent*>(Event);
        const QKeySequence Pressed(Key->keyCombination());
        for (QAction* A : fileMenu->actions())
            if (!A->shortcut().isEmpty() && A->shortcut() == Pressed) {
                UpdateFileMenu();
                break;
            }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

// --- Window placement ---------------------------------------------------------------------------

void TJtagMainForm::LoadWindowPlacement() {
    const TIniFile Ini(FController.IniFileName);
    const int Width = Ini.ReadInteger(WindowSection, "Width", 0);
    const int Height = Ini.ReadInteger(WindowSection, "Height", 0);
    if (Width < 200 || Height < 150)
        return; // nothing remembered: the platform places the window
    const QRect Wanted(Ini.ReadInteger(WindowSection, "Left", 0),
                       Ini.ReadInteger(WindowSection, "Top", 0), Width, Height);
    // A position on a screen that is no longer attached would hide the window.
    bool Visible = false;
    for (const QScreen* S : QGuiApplication::screens())
        Visible = Visible || S->availableGeometry().intersects(Wanted);
    resize(Wanted.size());
    if (Visible)
        move(Wanted.topLeft());
    if (Ini.ReadInteger(WindowSection, "Maximized", 0))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TJtagMainForm::WriteWindowPlacement(TIniFile& Ini) const {
    // The frame's position, which move() takes back at the next start, and the client size,
    // which resize() does; a maximised window keeps the place it had before.
    const QRect Normal = normalGeometry();
    const QPoint Position =
        isMaximized() ? Normal.topLeft() - (geometry().topLeft() - pos()) : pos();
    const QSize Size = isMaximized() ? Normal.size() : size();
    Ini.WriteInteger(WindowSection, "Left", Position.x());
    Ini.WriteInteger(WindowSection, "Top", Position.y());
    Ini.WriteInteger(WindowSection, "Width", Size.width());
    Ini.WriteInteger(WindowSection, "Height", Size.height());
    Ini.WriteInteger(WindowSection, "Maximized", isMaximized() ? 1 : 0);
}
