#pragma once

// The few POSIX calls the test programs use for their own set-up (environment variables, a
// scratch folder), given to the Windows build of the suites, which force-includes this header.
// The code under test never uses them: it goes through src/platform.

#ifdef _WIN32

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "native_path.h"
#include "native_process.h"

inline int setenv(const char* Name, const char* Value, int Overwrite) {
    if (Overwrite || !platform::EnvironmentValue(Name))
        platform::SetEnvironmentValue(Name, std::string(Value));
    return 0;
}

inline int unsetenv(const char* Name) {
    platform::SetEnvironmentValue(Name, std::nullopt);
    return 0;
}

// The template's trailing "XXXXXX" replaced by random letters until a new folder is created.
inline char* mkdtemp(char* Template) {
    std::string T(Template);
    if (T.size() < 6 || T.compare(T.size() - 6, 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static std::mt19937 Random{std::random_device{}()};
    const char* Letters = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        for (size_t I = T.size() - 6; I < T.size(); ++I)
            T[I] = Letters[Random() % 36];
        std::error_code Ec;
        if (std::filesystem::create_directory(platform::PathFromUtf8(T), Ec)) {
            T.copy(Template, T.size());
            return Template;
        }
    }
    errno = EEXIST;
    return nullptr;
}

#endif
