#pragma once

#include <string>
#include <vector>

#include <QMainWindow>
#include <QStringList>

#include "open_dialog_filter.h"
#include "processing_controller.h"

class QAction;
class QFileDialog;
class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class TConsoleView;
class THelpForm;

// "JTAG SVF Player for KORVEX" plus a space and the version ("1.6"); a missing version leaves the
// trailing space.
QString MainFormCaption(const QString& Version);

// The open dialog's filter pairs as Qt name filters. A pair whose description already shows its
// patterns in parentheses ("SVF files (*.svf)") is kept as it is; otherwise the pattern list is
// appended in parentheses, ";" becoming a space ("All supported files (*.SVF *.XSVF)").
struct TQtNameFilters {
    QStringList Filters;
    QString Selected; // the FilterIndex-th pair, or the first when that does not exist
};
TQtNameFilters QtNameFilters(const TOpenDialogFilter& Filter);

// The main window: a thin view of the processing controller. It owns the controller, shows its
// progress and console lines, turns the menus into controller calls and answers the controller's
// requests for dialogs and boxes.
class TJtagMainForm : public QMainWindow, public IControllerView {
    Q_OBJECT
public:
    // ExecutablePath names the settings file by default; Args is the command line without the
    // program name.
    TJtagMainForm(const std::string& ExecutablePath, const std::vector<std::string>& Args,
                  QWidget* Parent = nullptr);
    ~TJtagMainForm() override;

    TProcessingController& Controller() { return FController; }
    const TProcessingController& Controller() const { return FController; }

    // One step of the 100 ms timer: the controller polled, the menu items brought up to date.
    void Poll();
    // SIGTERM, SIGINT or SIGHUP arrived: the run is cancelled, the programmer closed properly,
    // the settings saved, and the program ends with exit code 1.
    void CancelFromSignal();

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateLayout();
    void CreateMenus();
    void CreateOpenDialog();

    // The menu commands.
    void UpdateFileMenu();
    void OpenAndProcess();
    void ProcessLastFile();
    void CheckFile();
    void ScanChain();
    void EditProgramOptions();
    void SelectProgrammer();
    // The programmer selection dialog; true on OK, the choice then in the link.
    bool ShowSelectionDialog();
    void ShowHelp();
    // Menu items whose state follows the run: "&Stop" only while a file is being processed.
    void UpdateRunState();
    void LoadWindowPlacement();
    void WriteWindowPlacement(TIniFile& Ini) const;

    // IControllerView.
    void ClearConsole() override;
    void ProcessPendingEvents() override;
    void WhileLoading() override;
    void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) override;
    void SetProgress(int64_t Max, int64_t Position) override;
    void Quit() override;
    void ShowError(const std::string& Text) override;
    bool ChooseProgrammer() override;
    void SetStatusText(const std::string& Text) override;
    void SetRunTime(const std::string& Text, bool Finished) override;
    void SetDriverText(const std::string& Text) override;

    TProcessingController FController;

    QWidget* progressPanel;
    QProgressBar* progressBar;
    QFrame* separatorLine;
    TConsoleView* consoleView;
    QLabel* statusLabel; // the status bar's message panel
    QLabel* driverLabel; // the USB driver in use, at the right of the status bar
    QFileDialog* openDialog;
    QTimer* pollTimer;
    THelpForm* helpWindow; // a window of its own, hidden until asked for

    QMenu* fileMenu;
    QAction* openAction;
    QAction* processLastAction;
    QAction* checkFileAction;
    QAction* scanChainAction;
    QAction* stopAction;
    QAction* closeAction;
    QMenu* optionsMenu;
    QAction* programOptionsAction;
    QAction* writeCommentsAction;
    QAction* selectProgrammerAction;
    QMenu* helpMenu;
    QAction* showHelpAction;

    std::string FStatusText; // the status line without the run's time
    bool FShown = false;
    // Set while a controller call is under way: a poll that arrives while RunFile lets the
    // window paint must not start a second call into the controller.
    bool FInController = false;
    // -P with -CC: nobody is there to answer a box or a dialog, and one would keep the program
    // from closing with its exit code. Errors go to standard error and the console instead, and
    // the programmer is chosen by the rule korvex-cli follows.
    bool FUnattended = false;
};
