#pragma once

#include <string>

#include "jtag_files_list.h"

// The open dialog's filter ("SVF files (*.svf)|*.SVF|...") and the 1-based index of the pair to
// select: "All supported files" when more than one type is registered, else the first pair.
struct TOpenDialogFilter {
    std::string Filter;
    int FilterIndex = 1;
};

TOpenDialogFilter BuildOpenDialogFilter(const TJtagFilesList& Registry);
