#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "file_check.h"
#include "jtag_file.h"
#include "korvex_link.h"
#include "message_queue.h"
#include "open_dialog_filter.h"
#include "player_registration.h"
#include "run_report.h"
#include "run_timer.h"
#include "usbplow.h"

// What the controller needs from the front end: the window (Qt) or the terminal (korvex-cli).
// All calls come on the UI thread, from the controller's own operations.
class IControllerView {
public:
    virtual ~IControllerView() = default;

    // A new run starts: empty the console.
    virtual void ClearConsole() = 0;
    // Let the front end paint once (the cleared console) before the device is touched.
    virtual void ProcessPendingEvents() = 0;
    // The lines drained in one timer tick, in queue order, one batch per tick.
    virtual void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) = 0;
    // The progress bar; Max changes only when the player's maximum changes.
    virtual void SetProgress(int64_t Max, int64_t Position) = 0;
    // End the application (automatic close after a run, failed driver check). The controller has
    // already cleared Player, so closing is allowed.
    virtual void CloseMainWindow() = 0;
    // An error box with an OK button ("KORVEX not found", "USB drivers not found or bad version.").
    virtual void ShowErrorBox(const std::string& Text) = 0;
    // The programmer selection. Returns true when the user confirmed; the view then sets
    // Controller.Link.SerialNumber (the chosen serial value OR 0xA6000000, or -1 when nothing was
    // selected). Cancel returns false and leaves SerialNumber alone.
    virtual bool ChooseKorvex() = 0;
    // The status bar's text ("Using KORVEX S/N 012345").
    virtual void SetStatusText(const std::string& Text) = 0;
    // The run's time: "0:12 elapsed, 0:30 left" while it runs (about once a tick), then once
    // "Total time 0:42" with Finished set.
    virtual void SetRunTime(const std::string& /*Text*/, bool /*Finished*/) {}
};

// The road of one run, free of any GUI: programmer found and opened, player created and started,
// progress and messages handed to the view every tick, outcome reported, connection closed, exit
// code set. The Qt main window and korvex-cli each own one and call TimerTimer from a timer (the
// window every 100 ms, korvex-cli every 50 ms).
class TProcessingController {
public:
    explicit TProcessingController(IControllerView& View);
    // Stops and frees a player still running and closes the programmer connection.
    ~TProcessingController();
    TProcessingController(const TProcessingController&) = delete;
    TProcessingController& operator=(const TProcessingController&) = delete;

    // The run in progress; a file is being processed exactly when it is set.
    std::unique_ptr<TJtagFile> Player;
    bool AutoProcess = false;    // -P: process LastFileName once, at the first tick
    bool CloseOnSuccess = false; // -C
    bool CloseOnError = false;   // -CC: also when the automatic processing does not start
    std::string IniFileName;     // the settings file
    // 0 = last run without errors, 1 = last run failed, 2 = last run did not start (or the USB
    // driver library is unusable).
    uint8_t ExitCode = 0;
    // "Write SVF file comments into console": handed to each player as EchoComments at its start.
    bool WriteComments = true;
    // The file the open dialog holds: the last one chosen, or the one given with -F.
    std::string LastFileName;
    // The name the default settings file is called after; empty = the executable's own name.
    // korvex-cli sets "korvex-player" to share the desktop program's file.
    std::string SettingsBaseName;

    TMessageQueue Messages;
    TUsbDriver Driver;
    TKorvexLink Link;

    // What the last run asked of the programmer and how long it took (for the run report).
    struct TRunTotals {
        int64_t Statements = 0;
        int64_t Scans = 0;
        int64_t TckCycles = 0;
        double Seconds = 0;
    };
    TRunTotals LastRun;

    // Start-up: "." as decimal separator, flags cleared, IniFileName from the executable path,
    // the command line (Args without the program name), -S into Link.SerialNumber, ".ini" as the
    // settings file's extension, then LoadSettings.
    void FormCreate(const std::string& ExecutablePath, const std::vector<std::string>& Args);
    // The same with a command line already parsed (korvex-cli builds one from its own options).
    void FormCreate(const std::string& ExecutablePath, const TCommandLine& CommandLine);

    // Loads the USB driver library. On failure: the error box "USB drivers not found or bad
    // version.", ExitCode 2 and the window closed; returns false.
    bool FormShow();

    // Makes sure exactly one attached programmer is chosen (Link.FindKorvex, with the view's
    // dialog and boxes).
    bool FindKorvex();

    // Runs one file; true when the player was started. The caller has made sure that nothing is
    // being processed and a programmer is selected.
    bool RunFile(const std::string& FileName);

    // "&Open && Process" after the dialog confirmed FileName / "&Process Last File": nothing while
    // a file is being processed; otherwise FindKorvex, then RunFile.
    void OpenAndProcess(const std::string& FileName);
    void ProcessLastFile();
    // "&Process Last File" is enabled only when LastFileName names an existing file.
    bool CanProcessLastFile() const;

    // One tick of the 100 ms timer: automatic processing, progress, outcome, close, then every
    // queued line to the view.
    void TimerTimer();

    bool Processing() const { return Player != nullptr; }

    // Cancels the run in progress: the player stops at its next pass and the run fails (the next
    // tick reports it, closes the programmer properly and sets ExitCode 1). UI thread only; a
    // signal handler sets a flag that the front end's loop turns into this call.
    void RequestStop();

    // FormCloseQuery: refused while a file is being processed, with the error box "Please wait
    // until file processing is done.".
    bool CanClose();
    // FormClose: saves the settings. A failure is shown in an error box and the close goes on;
    // returns whether the file was written.
    bool FormClose();

    // The eight settings from / to IniFileName.
    void LoadSettings();
    // Throws std::runtime_error naming the file when it cannot be written.
    void SaveSettings();

    // The filter for the open dialog, from the global registry.
    TOpenDialogFilter OpenDialogFilter() const;

    // A serial number as the console and the status bar show it: at least six upper-case
    // hexadecimal digits of its 32 bits (A6012345 for a choice made in the selection dialog).
    static std::string SerialHex(int32_t SerialNumber);

private:
    void EndRun(int Status);
    // Frees a player that could not be started and closes the connection opened for it.
    void AbandonStart(std::unique_ptr<TJtagFile>& Started, const std::string& Report);

    IControllerView& View;
    TRunCounters FCounters; // wraps the events of the run in progress
    TRunTimer FTimer;
    int64_t FProgressMax = -1;    // the maximum last given to the view's progress bar
    bool FCloseRequested = false; // closed at the end of the tick, after the console has its lines
};
