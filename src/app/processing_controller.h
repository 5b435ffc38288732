#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "ini_file.h"
#include "jtag_file.h"
#include "korvex_link.h"
#include "message_queue.h"
#include "open_dialog_filter.h"
#include "player_registration.h"
#include "player_thread.h"
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
    // Called now and then while a file is read before its run (seconds for a large XSVF file):
    // the front end stays alive and may call Stop or Cancel, which end the load.
    virtual void WhileLoading() { ProcessPendingEvents(); }
    // The lines drained in one poll, in queue order, one batch per poll.
    virtual void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) = 0;
    // The progress bar; Max changes only when the player's maximum changes.
    virtual void SetProgress(int64_t Max, int64_t Position) = 0;
    // End the application (automatic close after a run, failed driver check). The controller is
    // no longer processing, so closing is allowed.
    virtual void Quit() = 0;
    // An error the user has to acknowledge ("KORVEX not found", "USB drivers not found or bad
    // version."): a box with an OK button in the window.
    virtual void ShowError(const std::string& Text) = 0;
    // The programmer selection. Returns true when the user confirmed; the view then sets
    // Controller.Link.SerialNumber (the chosen serial value OR 0xA6000000, or -1 when nothing was
    // selected). Cancel returns false and leaves SerialNumber alone.
    virtual bool ChooseProgrammer() = 0;
    // The status bar's text ("Using KORVEX S/N 012345").
    virtual void SetStatusText(const std::string& Text) = 0;
    // The run's time: "0:12 elapsed, 0:30 left" while it runs (about once a tick), then once
    // "Total time 0:42" with Finished set.
    virtual void SetRunTime(const std::string& /*Text*/, bool /*Finished*/) {}
    // The USB driver in use ("libftdi1 (libftdi1.so.2)"), once it is loaded.
    virtual void SetDriverText(const std::string& /*Text*/) {}
};

// The road of one run, free of any GUI: programmer found and opened, player created and started,
// progress and messages handed to the view at every poll, outcome reported, connection closed,
// exit code set. The Qt main window and korvex-cli each own one and call Poll from a timer (the
// window every 100 ms, korvex-cli every 50 ms).
class TProcessingController {
public:
    explicit TProcessingController(IControllerView& View);
    // Stops and frees a player still running and closes the programmer connection.
    ~TProcessingController();
    TProcessingController(const TProcessingController&) = delete;
    TProcessingController& operator=(const TProcessingController&) = delete;

    // Start-up: "." as decimal separator, the settings file named, the programmer -S names
    // preselected, the settings loaded and the session's option overrides applied over them.
    void Configure(const std::string& ExecutablePath, const TSessionOptions& Session);

    // Loads the USB driver library. On failure: the error "USB drivers not found or bad
    // version.", ExitCode 2 and the view asked to quit; returns false.
    bool LoadDriver();

    // Makes sure exactly one attached programmer is chosen (the view's selection and errors).
    bool SelectProgrammer();
    // The choice when nobody is there to make it (korvex-cli, the window with -P and -CC), for
    // the view's ChooseProgrammer: the programmer -S named if attached (discovery has looked for
    // it before asking), else the only one attached; otherwise an error that lists the attached
    // serial numbers, and false.
    bool ChooseWithoutDialog();

    // Runs one file; true when the player was started. The caller has made sure that nothing is
    // being processed and a programmer is selected.
    bool RunFile(const std::string& FileName);

    // Refuses a file that is not a regular file (folder, FIFO, device); then SelectProgrammer and
    // RunFile. True when the run started.
    bool StartRun(const std::string& FileName);
    // Why a file cannot be played at all ("... not a regular file"), "" when it may be tried.
    static std::string NotPlayable(const std::string& FileName);

    // A file chosen in the open dialog / the last file again: nothing while a file is being
    // processed; otherwise SelectProgrammer, then RunFile.
    void ProcessFile(const std::string& FileName);
    void ProcessLastFile();

    // "Scan JTAG Chain": the programmer chosen as for a run, the chain read at the default
    // frequency, its report in the console (at the next Poll). 0 = the chain was read, 1 = it
    // could not be, 2 = no programmer, or a file is being processed.
    int ScanChain();
    // "Check File": the dry run of FileName without programmer or driver, its report in the
    // console. 0 = the file can be played, 1 = it cannot, 2 = a file is being processed.
    int CheckVectorFile(const std::string& FileName);
    // The last file can be processed again only when LastFileName names an existing file.
    bool CanProcessLastFile() const;

    // One step of the front end's timer: automatic processing, progress, outcome, quit, then
    // every queued line to the view.
    void Poll();
    // Sleeps until the next Poll is due: Timeout, or less when a run's worker ends before.
    static void WaitForNextPoll(std::chrono::milliseconds Timeout) {
        WaitForAnyPlayerToFinish(Timeout);
    }

    // True from the moment a file is being read for a run (a pre-scan) until the run has ended.
    bool Processing() const { return Player != nullptr || FLoading; }

    // Cancels the run in progress: the player stops at its next pass and the run fails (the next
    // poll reports it, closes the programmer properly and sets ExitCode 1). UI thread only; a
    // signal handler sets a flag that the front end's loop turns into this call.
    void Stop();

    // The session is cancelled (a signal from the system or a terminal): the run in progress is
    // stopped and its programmer closed properly at the next poll, then the view quits with
    // exit code 1; without a run the view quits at the next poll.
    void Cancel();

    // Whether the application may close now: refused while a file is being processed, with the
    // error "Please wait until file processing is done.".
    bool CanClose();

    // The run options: read by the link at each event, by the player at its start.
    TRunOptions Options() const { return Link.Options(); }
    void SetOptions(const TRunOptions& Options) { Link.SetOptions(Options); }

    // The settings from IniFileName: options and the remembered programmer (unless -S chose one).
    void LoadSettings();
    // Writes them back, with what WriteMore adds (the window's placement), in one replacement of
    // the file. A failure is shown to the user and false returned; a closing window goes on
    // closing, since refusing would make every later attempt fail the same way.
    bool SaveSettings(const std::function<void(TIniFile&)>& WriteMore = {});
    // The same, throwing std::runtime_error naming the file when it cannot be written.
    void WriteSettingsFile(const std::function<void(TIniFile&)>& WriteMore = {});

    // The filter for the open dialog, from the global registry.
    TOpenDialogFilter OpenDialogFilter() const;

    // A serial number as the console and the status bar show it: at least six upper-case
    // hexadecimal digits of its 32 bits (A6012345 for a choice made in the selection dialog).
    static std::string SerialHex(int32_t SerialNumber);

    // The run in progress; a file is being processed exactly when it is set.
    std::unique_ptr<TJtagFile> Player;
    bool AutoProcess = false;    // process LastFileName once, at the next poll
    bool CloseOnSuccess = false; // quit after a run that completed successfully
    bool CloseOnError = false;   // quit after a run that failed or did not start
    std::string IniFileName;     // the settings file
    // 0 = last run without errors, 1 = last run failed, 2 = last run did not start (or the USB
    // driver library is unusable).
    uint8_t ExitCode = 0;
    // The file the open dialog holds: the last one chosen, or the one given with -F.
    std::string LastFileName;

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

private:
    void EndRun(int Status);
    // Frees a player that could not be started and closes the connection opened for it.
    void AbandonStart(std::unique_ptr<TJtagFile>& Started, const std::string& Report);

    IControllerView& View;
    TRunTimer FTimer;
    bool FCancelled = false;       // Cancel was called: the session ends with exit code 1
    bool FLoading = false;         // a player is reading its file before the run
    bool FLoadCancelled = false;   // Stop or Cancel came while it was
    bool FStartCancelled = false;  // the last start ended because its load was cancelled
    int32_t FRequestedSerial = -1; // the programmer -S named (low 24 bits), -1 when none
    int FUnattendedChoices = 0;    // ChooseWithoutDialog calls in this SelectProgrammer
    int64_t FProgressMax = -1;     // the maximum last given to the view's progress bar
    bool FQuitRequested =
        false; // the view quits at the end of the poll, after the console has its lines
};
