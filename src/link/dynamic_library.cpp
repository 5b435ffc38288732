#include "dynamic_library.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include "native_path.h"
#include "windows_error.h"
#else
#include <dlfcn.h>
#endif

bool TDynamicLibrary::Open(const std::string& Name, std::string& Error) {
    Close();
#ifdef _WIN32
    // The wide call: a driver in a folder named in another script still loads. No error box
    // from the system: a missing library is reported by the program, in its own words.
    const UINT OldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Backslashes: LoadLibrary does not take "/" as a separator everywhere (KORVEX_D2XX may be
    // written either way).
    const std::wstring File = platform::PathFromUtf8(Name).make_preferred().wstring();
    FModule = reinterpret_cast<void*>(LoadLibraryW(File.c_str()));
    if (!FModule)
        Error = platform::WindowsErrorText(GetLastError());
    SetErrorMode(OldMode);
#else
    FModule = dlopen(Name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!FModule) {
        const char* E = dlerror();
        Error = E ? E : "unknown error";
    }
#endif
    return FModule != nullptr;
}

void TDynamicLibrary::Close() {
    if (!FModule)
        return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(FModule));
#else
    dlclose(FModule);
#endif
    FModule = nullptr;
}

void* TDynamicLibrary::Symbol(const char* Name) const {
    if (!FModule)
        return nullptr;
#ifdef _WIN32
    // FARPROC to void*: GCC warns about the function-to-object pointer cast it really is.
    void* Address = nullptr;
    const FARPROC Proc = GetProcAddress(static_cast<HMODULE>(FModule), Name);
    static_assert(sizeof Address == sizeof Proc);
    std::memcpy(&Address, &Proc, sizeof Address);
    return Address;
#else
    return dlsym(FModule, Name);
#endif
}
