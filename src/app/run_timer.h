#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Elapsed time and an estimate of the time left for a run's progress display. The estimate
// assumes the rest of the file goes as fast as the part already played; it is shown once a
// second has passed and a hundredth of the file is done, before that it would only jump about.
class TRunTimer {
public:
    using TClock = std::chrono::steady_clock;

    void Start(TClock::time_point Now = TClock::now()) { FStart = Now; }
    double ElapsedSeconds(TClock::time_point Now = TClock::now()) const {
        return std::chrono::duration<double>(Now - FStart).count();
    }
    // Seconds left, or a negative value while there is no estimate yet.
    double SecondsLeft(int64_t Position, int64_t Max, TClock::time_point Now = TClock::now()) const;
    // "0:12 elapsed, 0:30 left" / "0:00 elapsed" for the status line and the CLI bar.
    std::string Text(int64_t Position, int64_t Max, TClock::time_point Now = TClock::now()) const;

private:
    TClock::time_point FStart = TClock::now();
};

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string ClockText(double Seconds);
