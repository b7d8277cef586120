// How a run of the launcher ended: one value, decided once, carried to the
// process's exit code and the last line of the run's log. Portable: the
// table of exit codes is tested natively.
#pragma once

#include "app/Layer.h"

#include <cstdint>

enum class Outcome {
    Launched,               // the installer was started
    ProductStarted,         // the installed product was started
    HelpShown,              // the switches were shown (/?)
    UsageError,             // the command line is wrong: nothing was done
    AnotherLauncherRuns,    // quit: another launcher runs in this session
    Refused,                // a conflicting product is installed
    Cancelled,              // the progress window was dismissed before the installer started
    SetupUnreadable,        // the setup could not be opened or mapped
    NoPackage,              // no trailer after the section data
    IncompletePackage,      // the payload runs past the end of the file
    NoStagingDirectory,     // no staging directory could be made or held
    StagingFailed,          // the staging file could not be named or written
    ExtractionFailed,       // not a cabinet of exactly one file, or not extracted
    LaunchFailed,           // the installer could not be started; record put back
    RecordUnreadable,       // the record could not be read to be kept: nothing recorded or started
    RecordNotWritten,       // the version could not be recorded: nothing started
    RecordNotRestored,      // the installer could not be started, nor the record put back
    ProductNotStarted,      // the installed product could not be started
    NoProgressWindow,       // the progress window or its worker could not be made
    CommandLineTooLong,     // the installer's command line would not fit: nothing was done
    InstallerNotWaitedFor,  // /wait: the installer was started but could not be waited for
    Aborted,                // out of memory, or a read fault of the setup
};

// The process's exit code for an outcome (the README's table): 0 when a
// program was started, Windows Installer's code where one says it, and a
// code of its own for every failure.
uint32_t ExitCodeOf(Outcome outcome);

// A few words for the log.
const char* DescribeOutcome(Outcome outcome);
