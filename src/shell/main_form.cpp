#include "main_form.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>

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
// Processor time of the calling thread.
std::chrono::microseconds ThreadCpuTime() {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return std::chrono::microseconds(int64_t(T.tv_sec) * 1000000 + T.tv_nsec / 1000);
}
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

void TTickStats::Add(std::chrono::microseconds Wall, std::chrono::microseconds Cpu) {
    ++Count;
    Total += Wall;
    Max = std::max(Max, Wall);
    TotalCpu += Cpu;
    MaxCpu = std::max(MaxCpu, Cpu);
    const auto Ms = static_cast<size_t>(Wall.count() / 1000);
    ++PerMillisecond[std::min(Ms, PerMillisecond.size() - 1)];
}

int TTickStats::PercentileMs(double Fraction) const {
    int64_t Seen = 0;
    for (size_t Ms = 0; Ms < PerMillisecond.size(); ++Ms) {
        Seen += PerMillisecond[Ms];
        if (Seen >= Fraction * static_cast<double>(Count))
            return static_cast<int>(Ms) + 1;
    }
    return static_cast<int>(PerMillisecond.size());
}

TJtagMainForm::TJtagMainForm(const std::string& ExecutablePath,
                             const std::vector<std::string>& Args, QWidget* Parent)
    : QMainWindow(Parent), Controller(*this) {
    setObjectName(QStringLiteral("JtagMainForm"));
    CreateLayout();
    CreateMenus();
    CreateOpenDialog();
    // The designed client area, below the menu bar.
    resize(537, 259 + menuBar()->sizeHint().height());

    HelpForm = new THelpForm(this);

    Controller.FormCreate(ExecutablePath, Args);
    setWindowTitle(MainFormCaption(QCoreApplication::applicationVersion()));
    const TQtNameFilters Filters = QtNameFilters(Controller.OpenDialogFilter());
    OpenDialog->setNameFilters(Filters.Filters);
    OpenDialog->selectNameFilter(Filters.Selected);
    Copycommentstoconsole1->setChecked(Controller.WriteComments);
    LoadWindowPlacement();
    File1Click();

    // The shortcut letters of the File menu first bring the menu's items up to date.
    qApp->installEventFilter(this);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(100);
    connect(Timer, &QTimer::timeout, this, &TJtagMainForm::TimerTimer);
    Timer->start();
}

TJtagMainForm::~TJtagMainForm() {
    qApp->removeEventFilter(this);
}

void TJtagMainForm::CreateLayout() {
    auto* Central = new QWidget(this);
    auto* Column = new QVBoxLayout(Central);
    Column->setContentsMargins(0, 0, 0, 0);
    Column->setSpacing(0);

    MainPanel = new QWidget(Central);
    MainPanel->setObjectName(QStringLiteral("MainPanel"));
    MainPanel->setFixedHeight(49);
    auto* PanelLayout = new QVBoxLayout(MainPanel);
    PanelLayout->setContentsMargins(9, 15, 9, 15);
    MainProgress = new QProgressBar(MainPanel);
    MainProgress->setObjectName(QStringLiteral("MainProgress"));
    MainProgress->setFixedHeight(19);
    MainProgress->setRange(0, 100);
    MainProgress->setValue(0);
    MainProgress->setTextVisible(false);
    PanelLayout->addWidget(MainProgress);
    Column->addWidget(MainPanel);

    Bevel1 = new QFrame(Central);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    Bevel1->setFixedHeight(4);
    auto* BevelRow = new QHBoxLayout;
    BevelRow->setContentsMargins(2, 1, 2, 2);
    BevelRow->addWidget(Bevel1);
    Column->addLayout(BevelRow);

    MainMemo = new TConsoleView(Central);
    MainMemo->setObjectName(QStringLiteral("MainMemo"));
    QFont Mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    Mono.setStyleHint(QFont::Monospace);
    Mono.setPointSize(9);
    MainMemo->setFont(Mono);
    auto* MemoRow = new QHBoxLayout;
    MemoRow->setContentsMargins(4, 3, 4, 4);
    MemoRow->addWidget(MainMemo);
    Column->addLayout(MemoRow, 1);
    setCentralWidget(Central);

    MainStatus = new QLabel(this);
    MainStatus->setObjectName(QStringLiteral("MainStatus"));
    statusBar()->addWidget(MainStatus, 1);
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

    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    connect(File1, &QMenu::aboutToShow, this, &TJtagMainForm::File1Click);
    Open1 = Item(File1, "Open1", QStringLiteral("&Open && Process"), Qt::Key_O);
    connect(Open1, &QAction::triggered, this, &TJtagMainForm::Open1Click);
    MenuProcess = Item(File1, "MenuProcess", QStringLiteral("&Process Last File"), Qt::Key_P);
    connect(MenuProcess, &QAction::triggered, this, &TJtagMainForm::MenuProcessClick);
    Stop1 = Item(File1, "Stop1", QStringLiteral("&Stop"), Qt::Key_S);
    connect(Stop1, &QAction::triggered, this, &TJtagMainForm::Stop1Click);
    File1->addSeparator()->setObjectName(QStringLiteral("N1"));
    Close1 = Item(File1, "Close1", QStringLiteral("&Close"), Qt::Key_X);
    connect(Close1, &QAction::triggered, this, &TJtagMainForm::Close1Click);

    Options1 = menuBar()->addMenu(QStringLiteral("&Options"));
    Options1->setObjectName(QStringLiteral("Options1"));
    Options2 = Item(Options1, "Options2", QStringLiteral("Program &Options"), 0);
    connect(Options2, &QAction::triggered, this, &TJtagMainForm::Options2Click);
    Copycommentstoconsole1 = Item(Options1, "Copycommentstoconsole1",
                                  QStringLiteral("Write SVF file comments into console"), 0);
    Copycommentstoconsole1->setCheckable(true);
    Copycommentstoconsole1->setChecked(true);
    // Read by the next run at its start; a run in progress keeps its setting.
    connect(Copycommentstoconsole1, &QAction::toggled, this,
            [this](bool Checked) { Controller.WriteComments = Checked; });
    SelectKorvex1 = Item(Options1, "SelectKorvex1", QStringLiteral("Select Korvex"), 0);
    connect(SelectKorvex1, &QAction::triggered, this, &TJtagMainForm::SelectKorvex1Click);

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    ShowHelp1 =
        Item(Help1, "ShowHelp1", QStringLiteral("Show &Help && Programming Tips"), Qt::Key_F1);
    connect(ShowHelp1, &QAction::triggered, this, &TJtagMainForm::ShowHelp1Click);
}

void TJtagMainForm::CreateOpenDialog() {
    OpenDialog = new QFileDialog(this, QStringLiteral("Open file for process"));
    OpenDialog->setObjectName(QStringLiteral("OpenDialog"));
    // Qt's own dialog behaves the same on every desktop and can be answered by the tests.
    OpenDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    OpenDialog->setFileMode(QFileDialog::ExistingFile);
    OpenDialog->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog->setSizeGripEnabled(true);
    // File types are matched whatever the case of the name: A.SVF and a.svf alike.
    OpenDialog->setFilter(OpenDialog->filter() & ~QDir::CaseSensitive);
}

void TJtagMainForm::File1Click() {
    MenuProcess->setEnabled(Controller.CanProcessLastFile());
    UpdateRunState();
}

void TJtagMainForm::UpdateRunState() {
    Stop1->setEnabled(Controller.Processing());
}

void TJtagMainForm::Open1Click() {
    if (Controller.Processing())
        return;
    // The last file is the one offered first.
    if (!Controller.LastFileName.empty()) {
        const QFileInfo Last(QString::fromStdString(Controller.LastFileName));
        OpenDialog->setDirectory(Last.absolutePath());
        OpenDialog->selectFile(Last.fileName());
    }
    if (KorvexDialogs::ExecDialog(*OpenDialog) != QDialog::Accepted)
        return;
    const QStringList Chosen = OpenDialog->selectedFiles();
    if (Chosen.isEmpty())
        return;
    {
        TBusy Busy(FInController);
        Controller.OpenAndProcess(Chosen.front().toStdString());
    }
    UpdateRunState();
}

void TJtagMainForm::MenuProcessClick() {
    {
        TBusy Busy(FInController);
        Controller.ProcessLastFile();
    }
    UpdateRunState();
}

void TJtagMainForm::Stop1Click() {
    Controller.RequestStop();
}

void TJtagMainForm::Close1Click() {
    close();
}

void TJtagMainForm::Options2Click() {
    TKorvexLink& L = Controller.Link;
    TOptionValues V{L.DefFreq, L.RTwTime, L.RTwCount, L.PActive, L.PInactive, L.SecurityTime};
    if (!EditOptions(this, V))
        return;
    // The fields change at once; a run in progress sees them at its next event.
    L.DefFreq = V.DefFreq;
    L.RTwTime = V.RTwTime;
    L.RTwCount = V.RTwCount;
    L.PActive = V.PActive;
    L.PInactive = V.PInactive;
    L.SecurityTime = V.SecurityTime;
}

void TJtagMainForm::SelectKorvex1Click() {
    ChooseKorvex();
}

void TJtagMainForm::ShowHelp1Click() {
    HelpForm->ShowHelp();
}

void TJtagMainForm::TimerTimer() {
    if (FInController)
        return;
    const auto Begin = std::chrono::steady_clock::now();
    const auto BeginCpu = ThreadCpuTime();
    {
        TBusy Busy(FInController);
        FUnattended = !Controller.Processing() && Controller.AutoProcess && Controller.CloseOnError;
        Controller.TimerTimer();
        FUnattended = false;
    }
    UpdateRunState();
    FTickStats.Add(std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::steady_clock::now() - Begin),
                   ThreadCpuTime() - BeginCpu);
}

// --- IControllerView ----------------------------------------------------------------------------

void TJtagMainForm::ClearConsole() {
    MainMemo->Clear();
}

void TJtagMainForm::ProcessPendingEvents() {
    // Paint the cleared console. Keys and clicks wait: a second command must not start while
    // this one is opening the programmer.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TJtagMainForm::AppendConsoleLines(const std::vector<TConsoleLine>& Lines) {
    FTickStats.MaxLines = std::max(FTickStats.MaxLines, Lines.size());
    MainMemo->AppendLines(Lines);
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
        MainProgress->setRange(0, 1);
        MainProgress->setValue(Position >= Max && Max >= 0 && !Controller.Processing() ? 1 : 0);
        return;
    }
    if (MainProgress->maximum() != BarMax)
        MainProgress->setMaximum(BarMax);
    MainProgress->setValue(BarPos);
}

void TJtagMainForm::CloseMainWindow() {
    // Closed from the event loop, not from inside the tick or the show that asked for it.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TJtagMainForm::ShowErrorBox(const std::string& Text) {
    if (FUnattended) {
        // The message goes where a script and a later look at the window can see it.
        std::fprintf(stderr, "korvex-player: %s\n", Text.c_str());
        Controller.Messages.QueueMessage(Text, sevError);
        return;
    }
    KorvexDialogs::ShowErrorBox(this, QString::fromStdString(Text));
}

bool TJtagMainForm::ChooseKorvex() {
    TJTAGKorvexSelectionForm Form(this, [this] { return Controller.Link.ListKorvexSerials(); });
    if (KorvexDialogs::ExecDialog(Form) != QDialog::Accepted)
        return false;
    Controller.Link.SerialNumber = Form.SelectedSerial();
    return true;
}

void TJtagMainForm::SetStatusText(const std::string& Text) {
    MainStatus->setText(QString::fromStdString(Text));
}

// --- Window events ------------------------------------------------------------------------------

void TJtagMainForm::showEvent(QShowEvent* Event) {
    QMainWindow::showEvent(Event);
    if (FShown)
        return;
    FShown = true;
    FUnattended = Controller.AutoProcess && Controller.CloseOnError;
    const bool DriverLoaded = Controller.FormShow();
    FUnattended = false;
    if (!DriverLoaded) {
        // Without a driver there is nothing to run: an automatic run must not start searching.
        Timer->stop();
    }
}

void TJtagMainForm::closeEvent(QCloseEvent* Event) {
    if (!Controller.CanClose()) {
        Event->ignore();
        return;
    }
    Controller.FormClose();
    SaveWindowPlacement();
    HelpForm->hide();
    Timer->stop();
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
        for (QAction* A : File1->actions())
            if (!A->shortcut().isEmpty() && A->shortcut() == Pressed) {
                File1Click();
                break;
            }
    }
    return QMainWindow::eventFilter(Watched, Event);
}

// --- Window placement ---------------------------------------------------------------------------

void TJtagMainForm::LoadWindowPlacement() {
    const TIniFile Ini(Controller.IniFileName);
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

void TJtagMainForm::SaveWindowPlacement() {
    const QRect R = isMaximized() ? normalGeometry() : geometry();
    try {
        TIniFile Ini(Controller.IniFileName);
        Ini.WriteInteger(WindowSection, "Left", R.x());
        Ini.WriteInteger(WindowSection, "Top", R.y());
        Ini.WriteInteger(WindowSection, "Width", R.width());
        Ini.WriteInteger(WindowSection, "Height", R.height());
        Ini.WriteInteger(WindowSection, "Maximized", isMaximized() ? 1 : 0);
        Ini.UpdateFile();
    } catch (const std::exception&) {
        // The options' own save has already told the user that the file cannot be written.
    }
}
