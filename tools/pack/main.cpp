// tirn-pack: turns an installer into a self-contained setup executable, and
// looks inside such setups.
#include "Files.h"
#include "Packing.h"
#include "Verifying.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iostream>
#include <string>

namespace {

using namespace tirn::pack;

constexpr const char* kVersion = "tirn-pack 1.1.0";

constexpr const char* kFooter = R"(Examples:
  tirn-pack build --launcher TirnHomeISSetup.exe --definition-version N
                  (--installer FILE | --cab FILE.cab)
                  [--compression lzx[:15..21]|mszip|none] [--effort 1..3] -o SETUP.exe
      Packs the installer (made into a one-file cabinet under its base name)
      or a ready one-file cabinet after the launcher's sections. The launcher
      is either build: PE32 i386 or PE32+ AMD64. A launcher that already
      carries a package is re-packed, not stacked.
  tirn-pack inspect [--json] SETUP.exe
      Shows the launcher's kind, the trailer, whether the package is
      complete, and the files of its cabinet.
  tirn-pack unpack SETUP.exe -o FILE.cab
      Writes the package's cabinet, descrambled.
  tirn-pack verify [--json] SETUP.exe
      The release gate: a valid launcher, a complete package, a well-formed
      one-file cabinet whose every block checksum is right and whose file an
      independent decoder (libmspack; the system's cabinet library on
      Windows) turns out at its stated size, a Windows program; and a
      signature, if any, made after packing. Exit 0 when shippable.

Exit codes: 0 done, 2 usage, 3 input unreadable, 4 not a setup / no or cut
package, 5 cabinet invalid or not exactly one file, 6 output not written,
7 too large (the installer for a cabinet, or the setup for 4 GiB), 8 the
package inside is damaged or not shippable (verify). Outputs
are written under a temporary name and renamed when complete: a failure
leaves nothing behind. With SOURCE_DATE_EPOCH set, the stored file time is
clamped to it: the same inputs give the same setup on any machine.)";

// Valid JSON whatever bytes a file name holds: what is not UTF-8 becomes
// U+FFFD.
std::string Json(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

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
                             {"size", f.size},
                             {"date", f.date},
                             {"compression", f.compression}});
        }
        report["files"] = files;
    } else if (!r.cabinetError.empty()) {
        report["cabinetError"] = r.cabinetError;
    }
    return report;
}

void PrintReport(const PackageReport& r) {
    std::cout << "setup:              " << r.setup << " (" << r.fileSize << " bytes)\n"
              << "launcher:           " << (r.launcher.empty() ? "none" : r.launcher) << "\n"
              << "trailer offset:     " << r.trailerOffset << "\n";
    if (!r.present) {
        std::cout << "package:            none\n";
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
                      << f.compression << "\n";
        }
    } else if (!r.cabinetError.empty()) {
        std::cout << "cabinet:            " << r.cabinetError << "\n";
    }
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
    report["file"] = {{"name", r.fileName}, {"size", r.storedSize}};
    report["decoder"] = r.decoder;
    report["decodedSize"] = r.decodedSize;
    report["signature"] = r.signature;
    return report;
}

void PrintVerifyReport(const VerifyReport& r) {
    std::cout << "setup:              " << r.setup << " (" << r.fileSize << " bytes)\n";
    if (!r.launcher.empty()) std::cout << "launcher:           " << r.launcher << "\n";
    std::cout << "definition version: " << r.definitionVersion << "\n"
              << "payload size:       " << r.payloadSize << "\n";
    if (!r.compression.empty()) {
        std::cout << "cabinet:            " << r.compression << ", " << r.blocks << " blocks\n"
                  << "file:               " << r.fileName << ", " << r.storedSize << " bytes\n";
    }
    if (!r.decoder.empty()) {
        std::cout << "decoded by:         " << r.decoder << ", " << r.decodedSize << " bytes\n";
    }
    std::cout << "signature:          " << r.signature << "\n"
              << "verdict:            "
              << (r.shippable ? "shippable" : "NOT shippable: " + r.reason) << "\n";
}

int Run(int argc, char** argv) {
    CLI::App app{"tirn-pack: packs an installer into a self-contained setup executable",
                 "tirn-pack"};
    app.set_version_flag("--version", kVersion);
    app.footer(kFooter);
    app.require_subcommand(1);

    BuildRequest build;
    std::string compression = "lzx";
    CLI::App* buildCommand = app.add_subcommand("build", "make a setup executable");
    buildCommand->add_option("--launcher", build.launcher, "the bare launcher")->required();
    buildCommand
        ->add_option("--definition-version", build.definitionVersion,
                     "0 to 4294967295, compared with the installed version")
        ->required();
    CLI::Option* installer =
        buildCommand->add_option("--installer", build.installer, "the installer to pack");
    CLI::Option* cabinet =
        buildCommand->add_option("--cab", build.cabinet, "a ready one-file cabinet to pack");
    installer->excludes(cabinet);
    buildCommand->add_option("--compression", compression,
                             "lzx (the default, window 2^21), lzx:15 to lzx:21, mszip or none");
    int effort = static_cast<int>(tirn::cabinet::LzxEffort::Normal);
    buildCommand
        ->add_option("--effort", effort,
                     "LZX effort, numbered like xz's presets: 1 fastest (greedy parse), "
                     "2 near-optimal parse (the default), 3 smallest")
        ->check(CLI::Range(1, 3));
    buildCommand->add_option("-o", build.output, "the setup to write")->required();

    std::string setup, output;
    bool json = false;
    CLI::App* inspectCommand = app.add_subcommand("inspect", "show what a setup carries");
    inspectCommand->add_option("setup", setup, "the setup executable")->required();
    inspectCommand->add_flag("--json", json, "one JSON object on stdout");
    CLI::App* verifyCommand = app.add_subcommand("verify", "check a setup before it ships");
    verifyCommand->add_option("setup", setup, "the setup executable")->required();
    verifyCommand->add_flag("--json", json, "one JSON object on stdout");
    CLI::App* unpackCommand = app.add_subcommand("unpack", "write a setup's cabinet");
    unpackCommand->add_option("setup", setup, "the setup executable")->required();
    unpackCommand->add_option("-o", output, "the cabinet to write")->required();

    const auto known = [&app](const std::string& name) {
        for (const CLI::App* command : app.get_subcommands({})) {
            if (command->get_name() == name) return true;
        }
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        throw ToolError(kExitUsage,
                        std::string("unknown command '") + argv[1] + "' (see tirn-pack --help)");
    }
    try {
        app.parse(argc, argv);
        if (buildCommand->parsed() && installer->count() + cabinet->count() != 1) {
            throw CLI::ValidationError("give exactly one of --installer and --cab");
        }
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        std::cerr << "tirn-pack: " << error.what() << " (see tirn-pack --help)\n";
        return kExitUsage;
    }
    const bool progress = StandardErrorIsTerminal();

    if (buildCommand->parsed()) {
        const std::optional<CabinetCompression> chosen = ParseCompression(compression);
        if (!chosen) {
            throw ToolError(kExitUsage,
                            "--compression must be mszip, lzx, lzx:15 to lzx:21 or none, not '" +
                                compression + "' (see tirn-pack --help)");
        }
        build.compression = *chosen;
        build.compression.effort = static_cast<tirn::cabinet::LzxEffort>(effort);
        build.progress = progress;
        BuildSetup(build);
        return kExitOk;
    }
    if (inspectCommand->parsed()) {
        PackageReport report = InspectSetup(setup);
        if (json) {
            std::cout << Json(ReportJson(report)) << "\n";
        } else {
            PrintReport(report);
        }
        if (!report.present || !report.complete) {
            std::cerr << "tirn-pack: " << report.setup
                      << (report.present ? ": the package is cut" : ": carries no package") << "\n";
            return kExitNoPackage;
        }
        if (!report.files) {
            std::cerr << "tirn-pack: " << report.setup << ": " << report.cabinetError << "\n";
            return kExitCabinet;
        }
        return kExitOk;
    }
    if (verifyCommand->parsed()) {
        const VerifyReport report = VerifySetup(setup);
        if (json) {
            std::cout << Json(VerifyJson(report)) << "\n";
        } else {
            PrintVerifyReport(report);
        }
        if (!report.shippable) std::cerr << "tirn-pack: " << setup << ": " << report.reason << "\n";
        return report.exitCode;
    }
    UnpackSetup(setup, output, progress);
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<std::string> arguments = CommandLineArguments(argc, argv);
        std::vector<char*> pointers;
        for (std::string& argument : arguments) pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        return Run(static_cast<int>(arguments.size()), pointers.data());
    } catch (const ToolError& error) {
        std::cerr << "tirn-pack: " << error.what() << "\n";
        return error.exitCode;
    } catch (const std::exception& error) {
        std::cerr << "tirn-pack: " << error.what() << "\n";
        return kExitOutput;
    }
}
