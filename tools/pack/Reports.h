// What inspect and verify show: a JSON object (--json) or lines for people.
#pragma once

#include "tools/pack/Layer.h"

#include "tools/pack/Packing.h"
#include "tools/pack/Verifying.h"

#include <nlohmann/json.hpp>

#include <string>

namespace tirn::pack {

// Valid JSON whatever bytes a file name holds: what is not UTF-8 becomes U+FFFD.
std::string Json(const nlohmann::ordered_json& value);

nlohmann::ordered_json ReportJson(const PackageReport& report);
void PrintReport(const PackageReport& report);
nlohmann::ordered_json VerifyJson(const VerifyReport& report);
void PrintVerifyReport(const VerifyReport& report);

}  // namespace tirn::pack
