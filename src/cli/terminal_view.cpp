#include "terminal_view.h"

#include <cstdlib>

#include "console_text.h"
#include "native_console.h"

namespace {
bool NoColourWanted() {
    const char* N = std::getenv("NO_COLOR");
    return N && *N;
}

// The terminal colour of a severity. Information lines keep the terminal's own colour, which is
// readable on a dark background as well.
const char* AnsiFor(uint8_t Severity) {
    switch (Severity) {
    case sevComment:
        return "\033[90m";
    case sevError:
        return "\033[31m";
    case sevWarning:
        return "\033[33m";
    default:
        return nullptr;
    }
}

} // namespace

TTerminalView::TTerminalView(FILE* Out, FILE* Err)
    : FOut(Out), FErr(Err), FOutTerminal(platform::IsTerminal(Out)),
      FColour(!NoColourWanted() && platform::EnableColourSequences(Out)),
      FErrColour(!NoColourWanted() && platform::EnableColourSequences(Err)),
      // The bar is redrawn in place with "\r" and erased with "\033[K": a console that does not
      // take escape sequences would fill with copies of it.
      FProgressShown(platform::EnableColourSequences(Err)) {}

void TTerminalView::EraseProgress() {
    if (FBarVisible) {
        std::fputs("\r\033[K", FErr);
        std::fflush(FErr);
        FBarVisible = false;
    }
}

void TTerminalView::DrawProgress() {
    if (!FProgressShown || FMax <= 0)
        return;
    const int64_t Position = std::min(std::max<int64_t>(FPosition, 0), FMax);
    const int Permille = static_cast<int>(Position * 1000 / FMax);
    if (FBarVisible && Permille == FLastPermille && FRunTime == FDrawnRunTime)
        return;
    constexpr int Width = 40;
    const int Filled = Permille * Width / 1000;
    std::string Bar(static_cast<size_t>(Filled), '#');
    Bar.append(static_cast<size_t>(Width - Filled), '.');
    std::fprintf(FErr, "\r[%s] %3d.%d%%  %s\033[K", Bar.c_str(), Permille / 10, Permille % 10,
                 FRunTime.c_str());
    std::fflush(FErr);
    FBarVisible = true;
    FLastPermille = Permille;
    FDrawnRunTime = FRunTime;
}

void TTerminalView::AppendConsoleLines(const std::vector<TConsoleLine>& Lines) {
    // The bar shares the terminal with the lines when both streams go to it: take it away, write
    // the batch, draw it again below.
    EraseProgress();
    for (const TConsoleLine& L : Lines) {
        const std::string Text = FOutTerminal ? TerminalSafe(L.Text) : L.Text;
        const char* Ansi = FColour ? AnsiFor(L.Severity) : nullptr;
        // Written by length, not as a C string: a line from a vector file may hold a NUL byte,
        // and the rest of the line must still reach a file or a pipe.
        if (Ansi)
            std::fputs(Ansi, FOut);
        std::fwrite(Text.data(), 1, Text.size(), FOut);
        std::fputs(Ansi ? "\033[0m\n" : "\n", FOut);
        if (OnLine)
            OnLine(L);
    }
    std::fflush(FOut);
    DrawProgress();
}

void TTerminalView::SetProgress(int64_t Max, int64_t Position) {
    FMax = Max;
    FPosition = Position;
    DrawProgress();
}

void TTerminalView::SetRunTime(const std::string& Text, bool Finished) {
    if (Finished) {
        FTotalTime = Text;
        return;
    }
    FRunTime = Text;
    DrawProgress();
}

void TTerminalView::Quit() {
    EraseProgress();
    // On standard error, so standard output still ends with the run's outcome line.
    if (!FTotalTime.empty()) {
        std::fprintf(FErr, "%s\n", FTotalTime.c_str());
        std::fflush(FErr);
        FTotalTime.clear();
    }
    Closed = true;
}

void TTerminalView::Note(const std::string& Text) {
    EraseProgress();
    if (FErrColour)
        std::fprintf(FErr, "\033[31m%s\033[0m\n", Text.c_str());
    else
        std::fprintf(FErr, "%s\n", Text.c_str());
    std::fflush(FErr);
}

void TTerminalView::ShowError(const std::string& Text) {
    Note("korvex-cli: " + Text);
}

bool TTerminalView::ChooseProgrammer() {
    return Controller && Controller->ChooseWithoutDialog();
}
