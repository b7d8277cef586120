#include "app/Decision.h"

Decision Decide(const StartFacts& facts) {
    if (facts.anotherLauncherRuns) return Decision::AnotherLauncherRuns;
    if (!facts.productDirectoryExists) return Decision::InstallFresh;
    if (facts.conflictingProduct) return Decision::Refuse;
    if (facts.installedVersion.value_or(0) >= facts.packageVersion.value_or(0)) {
        return Decision::StartInstalledProduct;
    }
    return Decision::Upgrade;
}

const char* DescribeDecision(Decision decision) {
    switch (decision) {
        case Decision::AnotherLauncherRuns: return "quit, another launcher runs";
        case Decision::Refuse: return "refuse, a conflicting product is installed";
        case Decision::StartInstalledProduct: return "start the installed product";
        case Decision::InstallFresh: return "install";
        case Decision::Upgrade: return "upgrade";
    }
    return "?";
}
