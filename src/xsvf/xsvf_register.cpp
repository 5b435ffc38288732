#include <mutex>

#include "jtag_files_list.h"
#include "xsvf_file.h"

void RegisterXSVFFile() {
    // The program entry registers each player once; a second call must not add a dead record.
    static std::once_flag Once;
    std::call_once(Once, [] { TJtagFilesList::Global().Register<TXSVFFile>(); });
}
