/* A D2XX library that lacks one entry point (OMIT_<name> chooses which), for the binding's
   check that a library of the wrong version is refused. With nothing omitted it is complete. */
typedef unsigned int FT_STATUS;
#define EXPORT __attribute__((visibility("default")))

#ifndef OMIT_FT_Open
EXPORT FT_STATUS FT_Open(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_ListDevices
EXPORT FT_STATUS FT_ListDevices(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_Close
EXPORT FT_STATUS FT_Close(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_Read
EXPORT FT_STATUS FT_Read(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_Write
EXPORT FT_STATUS FT_Write(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_ResetDevice
EXPORT FT_STATUS FT_ResetDevice(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_Purge
EXPORT FT_STATUS FT_Purge(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_GetQueueStatus
EXPORT FT_STATUS FT_GetQueueStatus(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_GetStatus
EXPORT FT_STATUS FT_GetStatus(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_SetLatencyTimer
EXPORT FT_STATUS FT_SetLatencyTimer(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_SetBitMode
EXPORT FT_STATUS FT_SetBitMode(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_GetBitMode
EXPORT FT_STATUS FT_GetBitMode(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_SetUSBParameters
EXPORT FT_STATUS FT_SetUSBParameters(void) {
    return 0;
}
#endif
#ifndef OMIT_FT_GetDeviceInfo
EXPORT FT_STATUS FT_GetDeviceInfo(void) {
    return 0;
}
#endif
