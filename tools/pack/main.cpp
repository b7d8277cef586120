// tirn-pack: turns an installer into a self-contained setup executable, and
// looks inside such setups.
#include "tools/pack/Files.h"
#include "tools/pack/Packing.h"
#include "tools/pack/Reports.h"
#include "tools/pack/Verifying.h"

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
      complete, the files of its cabinet with whether each stored name is
      one the launcher installs, and the signature's state.
  tirn-pack unpack SETUP.exe -o FILE.cab
      Writes the package's cabinet, descrambled.
  tirn-pack verify [--json] [--require-signature] [--signer SHA256] SETUP.exe
      The release gate: a valid launcher, a complete package of a definition
      version above 0, a well-formed one-file cabinet whose stored name every
      launcher installs, whose every block is within 38912 bytes with a right
      checksum and whose file an independent decoder (libmspack; the
      system's cabinet library on Windows) turns out at its stated size, a
      Windows program; and a signature, if any, intact (its digest that of
      the setup, its signer's signature verifying; trust only reported).
      --require-signature fails an unsigned setup; --signer fails one not
      signed by the certificate of that SHA-256 fingerprint. Exit 0 when
      shippable.

Exit codes: 0 done, 2 usage, 3 input unreadable, 4 not a setup / no or cut
package, 5 cabinet invalid or not exactly one file, 6 output not written,
7 too large (the installer for a cabinet, or the setup for 4 GiB), 8 the
package inside is damaged or not shippable (verify). Outputs
are written under a temporary name and renamed when complete: a failure
leaves nothing behind. With SOURCE_DATE_EPOCH set, the stored file time is
clamped to it: the same inputs give the same setup on any machine.)";

// What the command line gives the sub-commands, and the exit code the one
// that ran chose.
struct Invocation {
    BuildRequest build;
    VerifyOptions verify;
    std::string compression = "lzx";
    int effort = static_cast<int>(tirn::cabinet::LzxEffort::Normal);
    std::string setup;
    std::string output;
    bool json = false;
    bool progress = false;
    int exitCode = kExitOk;
};

void AddBuildCommand(CLI::App& app, Invocation& run) {
    CLI::App* command = app.add_subcommand("build", "make a setup executable");
    command->add_option("--launcher", run.build.launcher, "the bare launcher")->required();
    command
        ->add_option("--definition-version", run.build.definitionVersion,
                     "1 to 4294967295, compared with the installed version")
        ->required();
    command->add_flag("--allow-version-0", run.build.allowVersion0,
                      "take definition version 0: a setup that starts the installed product "
                      "wherever one is and never upgrades it");
    CLI::Option_group* source = command->add_option_group("source", "exactly one of");
    source->add_option("--installer", run.build.installer, "the installer to pack");
    source->add_option("--cab", run.build.cabinet, "a ready one-file cabinet to pack");
    source->require_option(1);
    command
        ->add_option("--compression", run.compression,
                     "lzx (the default, window 2^21), lzx:15 to lzx:21, mszip or none")
        ->check(CLI::Validator(
            [](const std::string& value) -> std::string {
                return ParseCompression(value) ? ""
                                               : "must be mszip, lzx, lzx:15 to lzx:21 or none";
            },
            "COMPRESSION"));
    command
        ->add_option("--effort", run.effort,
                     "LZX effort, numbered like xz's presets: 1 fastest (greedy parse), "
                     "2 near-optimal parse (the default), 3 smallest")
        ->check(CLI::Range(1, 3));
    command->add_option("-o", run.build.output, "the setup to write")->required();
    command->callback([&run] {
        run.build.compression = *ParseCompression(run.compression);
        run.build.compression.effort = static_cast<tirn::cabinet::LzxEffort>(run.effort);
        run.build.progress = run.progress;
        BuildSetup(run.build);
    });
}

void AddInspectCommand(CLI::App& app, Invocation& run) {
    CLI::App* command = app.add_subcommand("inspect", "show what a setup carries");
    command->add_option("setup", run.setup, "the setup executable")->required();
    command->add_flag("--json", run.json, "one JSON object on stdout");
    command->callback([&run] {
        PackageReport report = InspectSetup(run.setup);
        if (run.json) {
            std::cout << Json(ReportJson(report)) << "\n";
        } else {
            PrintReport(report);
        }
        if (!report.present || !report.complete) {
            std::cerr << "tirn-pack: " << report.setup
                      << (report.present ? ": the package is cut" : ": carries no package") << "\n";
            run.exitCode = kExitNoPackage;
        } else if (!report.files) {
            std::cerr << "tirn-pack: " << report.setup << ": " << report.cabinetError << "\n";
            run.exitCode = kExitCabinet;
        }
    });
}

void AddVerifyCommand(CLI::App& app, Invocation& run) {
    CLI::App* command = app.add_subcommand("verify", "check a setup before it ships");
    command->add_option("setup", run.setup, "the setup executable")->required();
    command->add_flag("--json", run.json, "one JSON object on stdout");
    command->add_flag("--require-signature", run.verify.requireSignature,
                      "an unsigned setup fails (a signature removed is no longer missed)");
    command->add_option("--signer", run.verify.signer,
                        "the SHA-256 fingerprint of the signer's certificate: a setup signed by "
                        "any other fails (implies --require-signature)");
    command->callback([&run] {
        const VerifyReport report = VerifySetup(run.setup, run.verify);
        if (run.json) {
            std::cout << Json(VerifyJson(report)) << "\n";
        } else {
            PrintVerifyReport(report);
        }
        if (!report.shippable) {
            std::cerr << "tirn-pack: " << run.setup << ": " << report.reason << "\n";
        }
        run.exitCode = report.exitCode;
    });
}

void AddUnpackCommand(CLI::App& app, Invocation& run) {
    CLI::App* command = app.add_subcommand("unpack", "write a setup's cabinet");
    command->add_option("setup", run.setup, "the setup executable")->required();
    command->add_option("-o", run.output, "the cabinet to write")->required();
    command->callback([&run] { UnpackSetup(run.setup, run.output, run.progress); });
}

// Parses the command line and runs the one sub-command it names (in
// CLI11's callback, once everything parsed); a usage error exits 2 before
// anything is read or written.
int Run(int argc, char** argv) {
    CLI::App app{"tirn-pack: packs an installer into a self-contained setup executable",
                 "tirn-pack"};
    app.set_version_flag("--version", kVersion);
    app.footer(kFooter);
    app.require_subcommand(1);
    Invocation run;
    run.progress = StandardErrorIsTerminal();
    AddBuildCommand(app, run);
    AddInspectCommand(app, run);
    AddVerifyCommand(app, run);
    AddUnpackCommand(app, run);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
        // No sub-command matched: what CLI11 left unparsed names the one
        // asked for.
        const std::vector<std::string> left = app.remaining();
        if (app.get_subcommands().empty() && !left.empty() && left[0][0] != '-') {
            std::cerr << "tirn-pack: unknown command '" << left[0] << "' (see tirn-pack --help)\n";
        } else {
            std::cerr << "tirn-pack: " << error.what() << " (see tirn-pack --help)\n";
        }
        return kExitUsage;
    }
    return run.exitCode;
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
