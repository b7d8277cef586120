#include "app/Outcome.h"

namespace {
struct OutcomeRow {
    Outcome outcome;
    uint32_t exitCode;
    const char* words;
};

// Failures take codes of their own from 101 up, clear of Windows Installer's
// (16xx, 3010) and of the small ones installers return; each fits the 8 bits
// that some hosts keep of an exit code.
constexpr OutcomeRow kOutcomes[] = {
    {Outcome::Launched, 0, "installer started"},
    {Outcome::ProductStarted, 0, "installed product started"},
    {Outcome::AnotherLauncherRuns, 1618, "another launcher runs"},
    {Outcome::Refused, 1638, "refused: a conflicting product is installed"},
    {Outcome::Cancelled, 1602, "cancelled by the user before the installer started"},
    {Outcome::SetupUnreadable, 101, "the setup could not be read"},
    {Outcome::NoPackage, 102, "no package in the setup"},
    {Outcome::IncompletePackage, 103, "the package is cut short"},
    {Outcome::NoStagingDirectory, 104, "no staging directory"},
    {Outcome::StagingFailed, 105, "the staging file could not be written"},
    {Outcome::ExtractionFailed, 106, "the package could not be extracted"},
    {Outcome::LaunchFailed, 107, "the installer could not be started"},
    {Outcome::RecordUnreadable, 108, "the installation record could not be read"},
    {Outcome::RecordNotWritten, 109, "the installation record could not be written"},
    {Outcome::RecordNotRestored, 110, "the installation record could not be put back"},
    {Outcome::ProductNotStarted, 111, "the installed product could not be started"},
    {Outcome::NoProgressWindow, 112, "the progress window could not be shown"},
    {Outcome::Aborted, 113, "aborted: out of memory or the setup could not be read"},
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
