#pragma once

#include <array>
#include <chrono>
#include <memory>
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

// How long the timer ticks took, controller and console drain included, and the largest batch
// of console lines one tick appended. Wall time includes any wait for a processor on a busy
// machine; the thread's processor time is what the tick itself cost.
struct TTickStats {
    int64_t Count = 0;
    std::chrono::microseconds Max{0};
    std::chrono::microseconds Total{0};
    std::chrono::microseconds MaxCpu{0};
    std::chrono::microseconds TotalCpu{0};
    std::array<int64_t, 201> PerMillisecond{}; // wall time by whole milliseconds, last: 200 and up
    size_t MaxLines = 0;

    void Add(std::chrono::microseconds Wall, std::chrono::microseconds Cpu);
    // The smallest whole number of milliseconds that at least Fraction of the ticks stayed within.
    int PercentileMs(double Fraction) const;
};

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

    TProcessingController Controller;

    // Layout.
    QWidget* MainPanel;
    QProgressBar* MainProgress;
    QFrame* Bevel1;
    TConsoleView* MainMemo;
    QLabel* MainStatus; // the status bar's one panel
    QFileDialog* OpenDialog;
    QTimer* Timer;
    THelpForm* HelpForm; // a window of its own, hidden until asked for

    // Menus.
    QMenu* File1;
    QAction* Open1;
    QAction* MenuProcess;
    QAction* Stop1;
    QAction* Close1;
    QMenu* Options1;
    QAction* Options2;
    QAction* Copycommentstoconsole1;
    QAction* SelectKorvex1;
    QMenu* Help1;
    QAction* ShowHelp1;

    // Handlers.
    void File1Click();
    void Open1Click();
    void MenuProcessClick();
    void Stop1Click();
    void Close1Click();
    void Options2Click();
    void SelectKorvex1Click();
    void ShowHelp1Click();
    void TimerTimer();

    const TTickStats& TickStats() const { return FTickStats; }

    // IControllerView.
    void ClearConsole() override;
    void ProcessPendingEvents() override;
    void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) override;
    void SetProgress(int64_t Max, int64_t Position) override;
    void CloseMainWindow() override;
    void ShowErrorBox(const std::string& Text) override;
    bool ChooseKorvex() override;
    void SetStatusText(const std::string& Text) override;

protected:
    void showEvent(QShowEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateLayout();
    void CreateMenus();
    void CreateOpenDialog();
    // Menu items whose state follows the run: "&Stop" only while a file is being processed.
    void UpdateRunState();
    void LoadWindowPlacement();
    void SaveWindowPlacement();

    bool FShown = false;
    // Set while a controller call is under way: a timer tick that arrives while RunFile lets the
    // window paint must not start a second call into the controller.
    bool FInController = false;
    // Set while the automatic run of -P with -CC is being started: nobody is there to answer a
    // box, and a box would keep the program from closing with its exit code.
    bool FUnattended = false;
    TTickStats FTickStats;
};
