/* A D2XX driver library of the wrong version: it forwards every call to the simulated programmer
   but lacks one of the fourteen entry points (KORVEX_LEAVE_OUT_<name> chooses which). Apart from
   the missing name it works, so a player that loads it anyway would run: the binding has to
   refuse it by the missing name alone. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdlib.h>

typedef uint32_t FT_STATUS;
typedef uint32_t FT_DWORD;
typedef void* FT_HANDLE;
#define FT_OTHER_ERROR 18u

static void* Resolve(const char* Name) {
    static void* Sim;
    if (!Sim)
        Sim = dlopen(KORVEX_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    return Sim ? dlsym(Sim, Name) : NULL;
}

#define FORWARD(Name, Params, Args)                                                                \
    __attribute__((visibility("default"))) FT_STATUS Name Params {                                 \
        FT_STATUS(*Entry) Params = (FT_STATUS(*) Params)Resolve(#Name);                            \
        return Entry ? Entry Args : FT_OTHER_ERROR;                                                \
    }

#ifndef KORVEX_LEAVE_OUT_FT_Open
FORWARD(FT_Open, (int N, FT_HANDLE* H), (N, H))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_ListDevices
FORWARD(FT_ListDevices, (void* A, void* B, FT_DWORD F), (A, B, F))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_Close
FORWARD(FT_Close, (FT_HANDLE H), (H))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_Read
FORWARD(FT_Read, (FT_HANDLE H, void* B, FT_DWORD N, FT_DWORD* R), (H, B, N, R))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_Write
FORWARD(FT_Write, (FT_HANDLE H, void* B, FT_DWORD N, FT_DWORD* W), (H, B, N, W))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_ResetDevice
FORWARD(FT_ResetDevice, (FT_HANDLE H), (H))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_Purge
FORWARD(FT_Purge, (FT_HANDLE H, FT_DWORD M), (H, M))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_GetQueueStatus
FORWARD(FT_GetQueueStatus, (FT_HANDLE H, FT_DWORD* R), (H, R))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_GetStatus
FORWARD(FT_GetStatus, (FT_HANDLE H, FT_DWORD* R, FT_DWORD* T, FT_DWORD* E), (H, R, T, E))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_SetLatencyTimer
FORWARD(FT_SetLatencyTimer, (FT_HANDLE H, uint8_t T), (H, T))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_SetBitMode
FORWARD(FT_SetBitMode, (FT_HANDLE H, uint8_t M, uint8_t E), (H, M, E))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_GetBitMode
FORWARD(FT_GetBitMode, (FT_HANDLE H, uint8_t* M), (H, M))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_SetUSBParameters
FORWARD(FT_SetUSBParameters, (FT_HANDLE H, FT_DWORD I, FT_DWORD O), (H, I, O))
#endif
#ifndef KORVEX_LEAVE_OUT_FT_GetDeviceInfo
FORWARD(FT_GetDeviceInfo, (FT_HANDLE H, FT_DWORD* T, FT_DWORD* I, char* S, char* D, void* X),
        (H, T, I, S, D, X))
#endif
