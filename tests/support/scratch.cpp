#include "scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "driver_env.h"
#include "native_path.h"

namespace fs = std::filesystem;

TScratchFolder::TScratchFolder(const std::string& Tag) {
    // UTF-8 like every name inside the program (a tag may be in any script).
    std::string Template = platform::Utf8FromPath(
        fs::temp_directory_path() / platform::PathFromUtf8("korvex-" + Tag + "-XXXXXX"));
    if (!::mkdtemp(Template.data()))
        throw std::runtime_error("cannot create a scratch folder in " +
                                 platform::Utf8FromPath(fs::temp_directory_path()));
    FPath = Template;
}

TScratchFolder::~TScratchFolder() {
    std::error_code Ignored;
    fs::remove_all(platform::PathFromUtf8(FPath), Ignored);
}

const TScratchFolder& SuiteScratch() {
    static const TScratchFolder Folder("suite");
    return Folder;
}

std::string TScratchFolder::File(const std::string& Name) const {
    return platform::Utf8FromPath(platform::PathFromUtf8(FPath) / platform::PathFromUtf8(Name));
}

std::string TScratchFolder::Write(const std::string& Name, const std::string& Content) const {
    const std::string Path = File(Name);
    std::ofstream Out(platform::PathFromUtf8(Path), std::ios::binary | std::ios::trunc);
    Out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + Path);
    return Path;
}

std::string TScratchFolder::Read(const std::string& Name) const {
    std::ifstream In(platform::PathFromUtf8(File(Name)), std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

TSimScenario::TSimScenario(const TScratchFolder& Folder)
    : FFolder(Folder), FTracePath(Folder.File("trace.txt")) {
    korvextest::UseDriverLibrary(Library());
}

std::string TSimScenario::Library() {
    return KORVEX_SIM_LIBRARY_PATH;
}

std::string TSimScenario::Write(const std::string& Config) {
    std::string Text = Config;
    if (!Text.empty() && Text.back() != '\n')
        Text += '\n';
    std::istringstream Lines(Config);
    bool OwnTrace = false;
    for (std::string Line; std::getline(Lines, Line);) {
        std::istringstream Words(Line);
        std::string First;
        OwnTrace = OwnTrace || (Words >> First && First == "trace");
    }
    if (!OwnTrace)
        Text += "trace " + FTracePath + "\n";
    // A new name each time, so the simulator sees the change even within one second.
    return FFolder.Write("sim-" + std::to_string(++FCount) + ".cfg", Text);
}

std::string TSimScenario::Use(const std::string& Config) {
    const std::string Path = Write(Config);
    ::setenv("KORVEX_SIM", Path.c_str(), 1);
    return Path;
}

std::string TSimScenario::Trace() const {
    return FFolder.Read("trace.txt");
}
