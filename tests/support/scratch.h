#pragma once

// What every test suite needs around a run: a private scratch folder, simulator scenarios written
// into it, and a way to leave the global file-type registry as it was found.
//
//   TScratchFolder Dir("controller");             // /tmp/korvex-controller-XXXXXX, removed after
//   const std::string F = Dir.Write("a.svf", "SIR 8 TDI(01);\n");
//   TSimScenario Sim(Dir);                         // KORVEX_D2XX (or KORVEX_LIBFTDI) = the
//   simulator Sim.Use("device A6012345\ntdo_constant 0\n");  // KORVEX_SIM = this scenario, with a
//   trace
//   ... EXPECT_NE(Sim.Trace().find("TOTAL"), std::string::npos);

#include <string>

#include "jtag_files_list.h"

// A private folder under the temporary directory, removed with everything in it by the
// destructor.
class TScratchFolder {
public:
    explicit TScratchFolder(const std::string& Tag = "test");
    ~TScratchFolder();
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    const std::string& Path() const { return FPath; }
    // The path of a name in the folder (nothing is created).
    std::string File(const std::string& Name) const;
    // Writes a file of the folder (binary, replacing it) and returns its path.
    std::string Write(const std::string& Name, const std::string& Content) const;
    // A file's content, "" when it cannot be read.
    std::string Read(const std::string& Name) const;

private:
    std::string FPath;
};

// The scratch folder of the whole test program, removed when it ends. CTest runs each case in a
// process of its own, so cases never share it.
const TScratchFolder& SuiteScratch();

// Simulator scenarios for the code under test, which finds the simulator through KORVEX_D2XX (in
// the libftdi pass KORVEX_LIBFTDI, driver_env.h) and
// its configuration through KORVEX_SIM. Each Use writes a new configuration file (the simulator
// reloads when the name changes) with a trace line added unless the scenario has its own.
class TSimScenario {
public:
    explicit TSimScenario(const TScratchFolder& Folder);

    // Points KORVEX_SIM at a new configuration holding these lines; returns its path.
    std::string Use(const std::string& Config);
    // The configuration file for a scenario without changing KORVEX_SIM (for a child process).
    std::string Write(const std::string& Config);
    // The simulator's trace of the runs since the last Use.
    std::string Trace() const;
    const std::string& TracePath() const { return FTracePath; }

    // The simulator library as built.
    static std::string Library();

private:
    const TScratchFolder& FFolder;
    std::string FTracePath;
    int FCount = 0;
};

// Restores the global file-type registry when it goes: a test that registers a type of its own
// leaves the registry as it found it for the tests after it.
class TRegistryRestorer {
public:
    TRegistryRestorer() : FSaved(TJtagFilesList::Global()) {}
    ~TRegistryRestorer() { TJtagFilesList::Global() = FSaved; }
    TRegistryRestorer(const TRegistryRestorer&) = delete;
    TRegistryRestorer& operator=(const TRegistryRestorer&) = delete;

private:
    TJtagFilesList FSaved;
};
