#include "dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

bool TDynamicLibrary::Open(const std::string& Name, std::string& Error) {
    Close();
#ifdef _WIN32
    FModule = reinterpret_cast<void*>(LoadLibraryA(Name.c_str()));
    if (!FModule)
        Error = "error " + std::to_string(GetLastError());
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
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(FModule), Name));
#else
    return dlsym(FModule, Name);
#endif
}
