#pragma once

// CONTRACT HEADER (written before the implementation so the controller can be built against it).
// The names below are fixed; the implementation may add members but must not rename or remove.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jtag_events.h"

class TUsbDriver; // usbplow.h: the loaded D2XX library

// The programmer link: connection state, option fields and the handlers of the nine player events
// (all but OnMessage) on the KORVEX command protocol. GUI-free; the main window and the headless
// player each own one.
class TKorvexLink {
public:
    explicit TKorvexLink(TUsbDriver& Driver);
    ~TKorvexLink(); // closes a connection still open
    TKorvexLink(const TKorvexLink&) = delete;
    TKorvexLink& operator=(const TKorvexLink&) = delete;

    // Options (settings file keys of the same name). Written on the UI thread, read by the handlers
    // on the worker thread at each call, hence atomics.
    std::atomic<uint8_t> DefFreq{0};
    std::atomic<uint8_t> RTwTime{1};
    std::atomic<uint8_t> RTwCount{2};
    std::atomic<uint8_t> PActive{2};
    std::atomic<uint8_t> PInactive{3};
    std::atomic<int32_t> SecurityTime{100};

    // The programmer to use: serial value in the low 24 bits (0xA6 in the top byte when chosen in the
    // selection dialog), -1 for none.
    int32_t SerialNumber = -1;
    // TCK frequency in effect (Hz); the controller sets it from DefFreq before Start.
    int64_t Frequency = 0;

    // --- Discovery (the dialog parts are callbacks the front end fills) -------------------------
    // Shows the selection among attached programmers; returns true on OK and sets SerialNumber.
    std::function<bool()> ChooseKorvex;
    // An error box ("KORVEX not found").
    std::function<void(const std::string&)> ShowError;
    // The status bar text ("Using KORVEX S/N 012345").
    std::function<void(const std::string&)> SetStatusText;
    // Makes sure exactly one attached programmer is chosen; true when one is. Empties the command
    // queue for the new run.
    bool FindKorvex();
    // Serial values of all attached KORVEX programmers, in the driver's order.
    std::vector<int32_t> ListKorvexSerials();

    // --- Connection ---------------------------------------------------------------------------
    bool OpenKorvex();  // closes any open connection first; false when it cannot be opened
    void CloseKorvex(); // VPP to its after-run state, closing bytes, device closed
    bool Connected() const;

    // --- Event handlers (worker thread) ---------------------------------------------------------
    void OnShift(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit);
    bool OnReadCaptured(uint8_t* Tdo, const uint8_t* Capture, int64_t Count);
    void OnFlush();
    void OnClockTms(uint8_t Tdi, uint8_t Tms);
    int64_t OnSetFrequency(int64_t FrequencyHz, bool Send);
    void OnWaitTime(bool Sck, int64_t TimeUs, uint8_t Tms);
    void OnRunClocks(bool Sck, int64_t Count, uint8_t Tms);
    void OnSetTrst(bool On, bool Drive);

    // Where the TRST warning goes (the message queue's QueueMessage).
    TMessageEvent QueueMessage;

    // The nine events bound to this link's handlers, OnMessage bound to QueueMessage.
    TJtagEvents Events();

    // The frequency DefFreq selects: 0 = 3 MHz, 1 = 1.5 MHz, anything else 750 kHz.
    static int64_t DefaultFrequencyFor(uint8_t DefFreq);
};
