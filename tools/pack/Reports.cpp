#include "tools/pack/Reports.h"

#include "format/StoredName.h"

#include <iostream>

namespace tirn::pack {

// Valid JSON whatever bytes a file name holds: what is not UTF-8 becomes
// U+FFFD.
std::string Json(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

namespace {

nlohmann::ordered_json SignatureJson(const SignatureVerdict& v) {
    nlohmann::ordered_json signature = {{"state", SignatureStateName(v.state)}};
    if (v.state == SignatureVerdict::State::None) return signature;
    if (!v.problem.empty()) signature["problem"] = v.problem;
    if (!v.digestAlgorithm.empty()) signature["digest"] = v.digestAlgorithm;
    if (!v.signer.empty()) signature["signer"] = v.signer;
    if (!v.signerFingerprint.empty()) signature["signerFingerprint"] = v.signerFingerprint;
    if (v.state == SignatureVerdict::State::Intact) {
        signature["trusted"] = v.trusted;
        signature["trust"] = v.trust;
    }
    return signature;
}

// One line: "none", "intact (SHA-256, signed by X; not trusted here: ...)", "broken: why".
std::string SignatureLine(const SignatureVerdict& v) {
    std::string line = SignatureStateName(v.state);
    if (v.state == SignatureVerdict::State::Broken) return line + ": " + v.problem;
    if (v.state == SignatureVerdict::State::Intact) {
        line += " (" + v.digestAlgorithm + ", signed by " +
                (v.signer.empty() ? std::string("an unnamed signer") : v.signer) +
                ", certificate SHA-256 " + v.signerFingerprint + "; " + v.trust + ")";
    }
    return line;
}

// "installs", or why no user's launcher would.
std::string StoredNameVerdict(const std::string& name) {
    const std::optional<std::string> problem = tirn::format::StoredNameProblem(name);
    return problem ? *problem : "installs";
}

}  // namespace

nlohmann::ordered_json ReportJson(const PackageReport& r) {
    nlohmann::ordered_json report = {{"setup", r.setup},
                                     {"fileSize", r.fileSize},
                                     {"launcher", r.launcher.empty() ? "none" : r.launcher},
                                     {"trailerOffset", r.trailerOffset},
                                     {"package", r.present}};
    if (r.present) {
        report["definitionVersion"] = r.definitionVersion;
        report["payloadSize"] = r.payloadSize;
        report["reserved"] = r.reserved;
        report["complete"] = r.complete;
    }
    if (r.files) {
        nlohmann::ordered_json files = nlohmann::ordered_json::array();
        for (const CabinetEntry& f : *r.files) {
            files.push_back({{"name", f.name},
                             {"storedName", StoredNameVerdict(f.name)},
                             {"size", f.size},
                             {"date", f.date},
                             {"compression", f.compression}});
        }
        report["files"] = files;
    } else if (!r.cabinetError.empty()) {
        report["cabinetError"] = r.cabinetError;
    }
    report["signature"] = SignatureJson(r.signature);
    return report;
}

void PrintReport(const PackageReport& r) {
    std::cout << "setup:              " << r.setup << " (" << r.fileSize << " bytes)\n"
              << "launcher:           " << (r.launcher.empty() ? "none" : r.launcher) << "\n"
              << "trailer offset:     " << r.trailerOffset << "\n";
    if (!r.present) {
        std::cout << "package:            none\n"
                  << "signature:          " << SignatureLine(r.signature) << "\n";
        return;
    }
    std::cout << "definition version: " << r.definitionVersion << "\n"
              << "payload size:       " << r.payloadSize << "\n"
              << "reserved:           " << r.reserved << "\n"
              << "package:            " << (r.complete ? "complete" : "cut") << "\n";
    if (r.files) {
        std::cout << "cabinet files:      " << r.files->size() << "\n";
        for (const CabinetEntry& f : *r.files) {
            std::cout << "  " << f.name << "  " << f.size << " bytes  " << f.date << "  "
                      << f.compression << "\n"
                      << "    stored name: " << StoredNameVerdict(f.name) << "\n";
        }
    } else if (!r.cabinetError.empty()) {
        std::cout << "cabinet:            " << r.cabinetError << "\n";
    }
    std::cout << "signature:          " << SignatureLine(r.signature) << "\n";
}

nlohmann::ordered_json VerifyJson(const VerifyReport& r) {
    nlohmann::ordered_json report = {{"setup", r.setup}, {"shippable", r.shippable}};
    if (!r.shippable) report["reason"] = r.reason;
    report["fileSize"] = r.fileSize;
    report["launcher"] = r.launcher;
    report["trailerOffset"] = r.trailerOffset;
    report["definitionVersion"] = r.definitionVersion;
    report["payloadSize"] = r.payloadSize;
    report["compression"] = r.compression;
    report["blocks"] = r.blocks;
    report["largestBlock"] = r.largestBlock;
    report["file"] = {{"name", r.fileName}, {"size", r.storedSize}};
    report["decoder"] = r.decoder;
    report["decodedSize"] = r.decodedSize;
    report["signature"] = SignatureJson(r.signature);
    return report;
}

void PrintVerifyReport(const VerifyReport& r) {
    std::cout << "setup:              " << r.setup << " (" << r.fileSize << " bytes)\n";
    if (!r.launcher.empty()) std::cout << "launcher:           " << r.launcher << "\n";
    std::cout << "definition version: " << r.definitionVersion << "\n"
              << "payload size:       " << r.payloadSize << "\n";
    if (!r.compression.empty()) {
        std::cout << "cabinet:            " << r.compression << ", " << r.blocks
                  << " blocks, the largest " << r.largestBlock << " bytes\n"
                  << "file:               " << r.fileName << ", " << r.storedSize << " bytes\n";
    }
    if (!r.decoder.empty()) {
        std::cout << "decoded by:         " << r.decoder << ", " << r.decodedSize << " bytes\n";
    }
    std::cout << "signature:          " << SignatureLine(r.signature) << "\n"
              << "verdict:            "
              << (r.shippable ? "shippable" : "NOT shippable: " + r.reason) << "\n";
}

}  // namespace tirn::pack
