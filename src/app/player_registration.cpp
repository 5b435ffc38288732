#include "player_registration.h"

#include <mutex>

#include "svf_file.h"
#include "xsvf_file.h"

void RegisterPlayers() {
    // SVF first: the open dialog lists the types in registration order.
    static std::once_flag Once;
    std::call_once(Once, [] {
        RegisterSVFFile();
        RegisterXSVFFile();
    });
}
