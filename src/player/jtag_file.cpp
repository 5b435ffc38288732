#include "jtag_file.h"

TJtagFile::~TJtagFile() {
    // The worker only touches the copies it owns, but it must be gone before anything of this
    // player is.
    Thread.reset();
}

int TJtagFile::Status() const {
    return Thread ? Thread->Status() : 0;
}

void TJtagFile::RequestTerminate() {
    if (Thread)
        Thread->Terminate();
}
