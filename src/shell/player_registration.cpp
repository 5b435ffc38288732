#include "player_registration.h"

#include <mutex>

#ifdef KORVEX_HAVE_SVF
#include "svf_file.h"
#endif
#ifdef KORVEX_HAVE_XSVF
#include "xsvf_file.h"
#endif

void RegisterPlayers() {
    // SVF first: the open dialog lists the types in registration order.
    static std::once_flag Once;
    std::call_once(Once, [] {
#ifdef KORVEX_HAVE_SVF
        RegisterSVFFile();
#endif
#ifdef KORVEX_HAVE_XSVF
        RegisterXSVFFile();
#endif
    });
}
