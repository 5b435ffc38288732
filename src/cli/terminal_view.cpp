#include "terminal_view.h"

#include <cstdlib>

#include <unistd.h>

#include "console_text.h"

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
    : FOut(Out), FErr(Err), FOutTerminal(::isatty(fileno(Out))),
      FColour(FOutTerminal && !NoColourWanted()),
      FErrColour(::isatty(fileno(Err)) && !NoColourWanted()),
      FProgressShown(::isatty(fileno(Err))) {}

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
    if (FBarVisible && Permille == FLastPermille)
        return;
    constexpr int Width = 40;
    const int Filled = Permille * Width / 1000;
    std::string Bar(static_cast<size_t>(Filled), '#');
    Bar.append(static_cast<size_t>(Width - Filled), '.');
    std::fprintf(FErr, "\r[%s] %3d.%d%%\033[K", Bar.c_str(), Permille / 10, Permille % 10);
    std::fflush(FErr);
    FBarVisible = true;
    FLastPermille = Permille;
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
    }
    std::fflush(FOut);
    DrawProgress();
}

void TTerminalView::SetProgress(int64_t Max, int64_t Position) {
    FMax = Max;
    FPosition = Position;
    DrawProgress();
}

void TTerminalView::Quit() {
    EraseProgress();
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
