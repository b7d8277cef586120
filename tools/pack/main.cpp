// tirn-pack: turns an installer into a self-contained setup executable, and
// looks inside such setups.
#include "Files.h"
#include "Packing.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace tirn::pack;

constexpr const char* kVersion = "tirn-pack 1.0.0";

constexpr const char* kUsage = R"(Usage:
  tirn-pack build --launcher TirnHomeISSetup.exe --definition-version N
                  (--installer FILE | --cab FILE.cab) -o SETUP.exe
      Packs the installer (made into a one-file MSZIP cabinet under its base
      name) or a ready one-file cabinet after the launcher's sections. A
      launcher that already carries a package is re-packed, not stacked.
  tirn-pack inspect [--json] SETUP.exe
      Shows the trailer, whether the package is complete, and the files of
      its cabinet.
  tirn-pack unpack SETUP.exe -o FILE.cab
      Writes the package's cabinet, descrambled.
  tirn-pack --help | --version

Exit codes: 0 done, 2 usage, 3 input unreadable, 4 not a setup / no or cut
package, 5 cabinet invalid or not exactly one file, 6 output not written,
7 setup would reach 4 GiB. Outputs are written under a temporary name and
renamed when complete: a failure leaves nothing behind.
)";

[[noreturn]] void UsageError(const std::string& message) {
    throw ToolError(kExitUsage, message + " (see tirn-pack --help)");
}

// Options of the form "--name value" and plain arguments.
struct Arguments {
    std::vector<std::string> plain;
    std::vector<std::pair<std::string, std::string>> options;
    bool json = false;

    const std::string* Find(const std::string& name) const {
        for (const auto& [key, value] : options) {
            if (key == name) return &value;
        }
        return nullptr;
    }
    std::string Require(const std::string& name) const {
        const std::string* value = Find(name);
        if (value == nullptr) UsageError("missing " + name);
        return *value;
    }
};

Arguments Parse(int argc, char** argv, int first, const std::vector<std::string>& valued) {
    Arguments args;
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            args.json = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            bool known = false;
            for (const std::string& name : valued) known = known || name == arg;
            if (!known) UsageError("unknown option " + arg);
            if (i + 1 >= argc) UsageError(arg + " needs a value");
            for (const auto& option : args.options) {
                if (option.first == arg) UsageError(arg + " given twice");
            }
            args.options.emplace_back(arg, argv[++i]);
        } else {
            args.plain.push_back(arg);
        }
    }
    return args;
}

uint32_t ParseVersion(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10 || std::stoull(text) > 0xFFFFFFFFull) {
        UsageError("--definition-version must be a number from 0 to 4294967295, not '" + text +
                   "'");
    }
    return static_cast<uint32_t>(std::stoull(text));
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void PrintReport(const PackageReport& r, bool json) {
    if (json) {
        std::cout << "{\"setup\": " << JsonString(r.setup) << ", \"fileSize\": " << r.fileSize
                  << ", \"trailerOffset\": " << r.trailerOffset
                  << ", \"package\": " << (r.present ? "true" : "false");
        if (r.present) {
            std::cout << ", \"definitionVersion\": " << r.definitionVersion
                      << ", \"payloadSize\": " << r.payloadSize << ", \"reserved\": " << r.reserved
                      << ", \"complete\": " << (r.complete ? "true" : "false");
        }
        if (r.files) {
            std::cout << ", \"files\": [";
            for (size_t i = 0; i < r.files->size(); ++i) {
                const CabinetEntry& f = (*r.files)[i];
                std::cout << (i ? ", " : "") << "{\"name\": " << JsonString(f.name)
                          << ", \"size\": " << f.size << ", \"date\": " << JsonString(f.date)
                          << "}";
            }
            std::cout << "]";
        } else if (!r.cabinetError.empty()) {
            std::cout << ", \"cabinetError\": " << JsonString(r.cabinetError);
        }
        std::cout << "}\n";
        return;
    }
    std::cout << "setup:              " << r.setup << " (" << r.fileSize << " bytes)\n"
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
            std::cout << "  " << f.name << "  " << f.size << " bytes  " << f.date << "\n";
        }
    } else if (!r.cabinetError.empty()) {
        std::cout << "cabinet:            " << r.cabinetError << "\n";
    }
}

int Run(int argc, char** argv) {
    if (argc < 2) UsageError("no command");
    const std::string command = argv[1];
    const bool progress = ::isatty(STDERR_FILENO) != 0;
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsage;
        return kExitOk;
    }
    if (command == "--version") {
        std::cout << kVersion << "\n";
        return kExitOk;
    }
    if (command == "build") {
        Arguments args = Parse(
            argc, argv, 2, {"--launcher", "--definition-version", "--installer", "--cab", "-o"});
        if (!args.plain.empty() || args.json) UsageError("unexpected argument for build");
        BuildRequest request;
        request.launcher = args.Require("--launcher");
        request.definitionVersion = ParseVersion(args.Require("--definition-version"));
        const std::string* installer = args.Find("--installer");
        const std::string* cabinet = args.Find("--cab");
        if ((installer == nullptr) == (cabinet == nullptr)) {
            UsageError("give exactly one of --installer and --cab");
        }
        request.installer = installer ? *installer : "";
        request.cabinet = cabinet ? *cabinet : "";
        request.output = args.Require("-o");
        request.progress = progress;
        BuildSetup(request);
        return kExitOk;
    }
    if (command == "inspect") {
        Arguments args = Parse(argc, argv, 2, {});
        if (args.plain.size() != 1) UsageError("inspect takes one setup executable");
        PackageReport report = InspectSetup(args.plain[0]);
        PrintReport(report, args.json);
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
    if (command == "unpack") {
        Arguments args = Parse(argc, argv, 2, {"-o"});
        if (args.plain.size() != 1 || args.json) UsageError("unpack takes one setup executable");
        UnpackSetup(args.plain[0], args.Require("-o"), progress);
        return kExitOk;
    }
    UsageError("unknown command '" + command + "'");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const ToolError& error) {
        std::cerr << "tirn-pack: " << error.what() << "\n";
        return error.exitCode;
    } catch (const std::exception& error) {
        std::cerr << "tirn-pack: " << error.what() << "\n";
        return kExitOutput;
    }
}
