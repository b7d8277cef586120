// What a run does, decided once from what it read at its start. Portable and
// pure: the table of every case that matters is tested natively.
#pragma once

#include "app/Layer.h"

#include <cstdint>
#include <optional>

// What the launcher reads before it acts, each once.
struct StartFacts {
    bool anotherLauncherRuns = false;          // its marker window or session mutex
    bool productDirectoryExists = false;       // the record names a directory that exists
    bool conflictingProduct = false;           // Tir.exe or Tirn.exe in it
    std::optional<uint32_t> installedVersion;  // DefinitionVersion, when readable
    std::optional<uint32_t> packageVersion;    // the trailer's, when there is a package
};

enum class Decision {
    AnotherLauncherRuns,    // quit at once
    Refuse,                 // the conflict message
    StartInstalledProduct,  // the installed product is not older
    InstallFresh,           // unpack, start the installer
    Upgrade,                // unpack, start the installer with "/Upgrade"
};

// Another launcher first; then, with a product installed, a conflict, then
// the versions (an unreadable installed version counts as 0, a setup without
// a package as version 0); with none, a fresh installation.
Decision Decide(const StartFacts& facts);

const char* DescribeDecision(Decision decision);
