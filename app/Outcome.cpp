#include "app/Outcome.h"

namespace {
struct OutcomeRow {
    Outcome outcome;
    uint32_t exitCode;
    const char* words;
};

// Failures take codes of their own from 106 up: clear of Windows Installer's
// (16xx, 3010) and of the small ones installers return, below the ones a
// shell gives meanings of its own (126 and up), and, where a host keeps only
// the low 8 bits of an exit code (Wine), still unlike 1602, 1618, 1638,
// 1639, 1641 and 3010 there (66, 82, 102, 103, 105, 194).
constexpr OutcomeRow kOutcomes[] = {
    {Outcome::Launched, 0, "installer started"},
    {Outcome::ProductStarted, 0, "installed product started"},
    {Outcome::HelpShown, 0, "the switches were shown"},
    {Outcome::UsageError, 1639, "the command line is wrong: nothing done"},
    {Outcome::AnotherLauncherRuns, 1618, "another launcher runs"},
    {Outcome::Refused, 1638, "refused: a conflicting product is installed"},
    {Outcome::Cancelled, 1602, "cancelled by the user before the installer started"},
    {Outcome::SetupUnreadable, 106, "the setup could not be read"},
    {Outcome::NoPackage, 107, "no package in the setup"},
    {Outcome::IncompletePackage, 108, "the package is cut short"},
    {Outcome::NoStagingDirectory, 109, "no staging directory"},
    {Outcome::StagingFailed, 110, "the staging file could not be written"},
    {Outcome::ExtractionFailed, 111, "the package could not be extracted"},
    {Outcome::LaunchFailed, 112, "the installer could not be started"},
    {Outcome::RecordUnreadable, 113, "the installation record could not be read"},
    {Outcome::RecordNotWritten, 114, "the installation record could not be written"},
    {Outcome::RecordNotRestored, 115, "the installation record could not be put back"},
    {Outcome::ProductNotStarted, 116, "the installed product could not be started"},
    {Outcome::NoProgressWindow, 117, "the progress window could not be shown"},
    {Outcome::CommandLineTooLong, 119, "the installer's command line would not fit: nothing done"},
    {Outcome::InstallerNotWaitedFor, 120, "the installer was started, but could not be waited for"},
    {Outcome::Aborted, 118, "aborted: out of memory or the setup could not be read"},
};

const OutcomeRow& RowOf(Outcome outcome) {
    for (const OutcomeRow& row : kOutcomes) {
        if (row.outcome == outcome) return row;
    }
    return kOutcomes[sizeof(kOutcomes) / sizeof(kOutcomes[0]) - 1];  // Aborted
}
}  // namespace

uint32_t ExitCodeOf(Outcome outcome) {
    return RowOf(outcome).exitCode;
}

const char* DescribeOutcome(Outcome outcome) {
    return RowOf(outcome).words;
}
