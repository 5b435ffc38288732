#include "run_timer.h"

#include <cmath>
#include <cstdio>

double TRunTimer::SecondsLeft(int64_t Position, int64_t Max, TClock::time_point Now) const {
    const double Elapsed = ElapsedSeconds(Now);
    if (Max <= 0 || Position <= 0 || Elapsed < 1.0 || Position * 100 < Max)
        return -1;
    if (Position >= Max)
        return 0;
    return Elapsed * static_cast<double>(Max - Position) / static_cast<double>(Position);
}

std::string TRunTimer::Text(int64_t Position, int64_t Max, TClock::time_point Now) const {
    std::string T = ClockText(ElapsedSeconds(Now)) + " elapsed";
    if (const double Left = SecondsLeft(Position, Max, Now); Left >= 0)
        T += ", " + ClockText(Left) + " left";
    return T;
}

std::string ClockText(double Seconds) {
    const long long S = Seconds <= 0 ? 0 : std::llround(Seconds);
    char Text[32];
    if (S >= 3600)
        std::snprintf(Text, sizeof Text, "%lld:%02lld:%02lld", S / 3600, S / 60 % 60, S % 60);
    else
        std::snprintf(Text, sizeof Text, "%lld:%02lld", S / 60, S % 60);
    return Text;
}
