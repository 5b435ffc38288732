#pragma once

#include <string>

// A shared library opened by name at run time (dlopen, LoadLibrary on Windows). The driver
// libraries are never linked against: a machine without them still starts the program.
class TDynamicLibrary {
public:
    TDynamicLibrary() = default;
    ~TDynamicLibrary() { Close(); }
    TDynamicLibrary(const TDynamicLibrary&) = delete;
    TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;

    // False with the loader's reason in Error when the file cannot be loaded.
    bool Open(const std::string& Name, std::string& Error);
    void Close();
    bool IsOpen() const { return FModule != nullptr; }
    // The entry point of that name, null when the library has none.
    void* Symbol(const char* Name) const;

private:
    void* FModule = nullptr;
};
