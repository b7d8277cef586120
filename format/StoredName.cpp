#include "format/StoredName.h"

#include <cstdint>

namespace tirn::format {
namespace {

// The number of UTF-16 units of valid UTF-8 text, or nothing.
std::optional<size_t> Utf16Units(std::string_view text) {
    size_t units = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length = 0;
        uint32_t point = 0;
        if (lead < 0x80) {
            length = 1;
            point = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            point = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            point = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            point = lead & 0x07;
        } else {
            return std::nullopt;
        }
        if (text.size() - i < length) return std::nullopt;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            point = (point << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and points past Unicode are no UTF-8.
        static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return std::nullopt;
        }
        units += point >= 0x10000 ? 2 : 1;
        i += length;
    }
    return units;
}

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices, with any extension.
bool IsDeviceName(std::string_view name) {
    const std::string_view stem = name.substr(0, name.find('.'));
    std::string upper;
    for (char c : stem) upper.push_back(Upper(c));
    while (!upper.empty() && upper.back() == ' ') upper.pop_back();
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::optional<std::string> StoredNameProblem(std::string_view name) {
    if (name.empty()) return "the stored name is empty";
    const std::optional<size_t> units = Utf16Units(name);
    if (!units) return "the stored name is not UTF-8";
    for (char c : name) {
        const auto byte = static_cast<uint8_t>(c);
        if (c == '\\' || c == '/') return "the stored name has a directory in it";
        if (c == ':') return "the stored name names a drive or a stream";
        if (byte < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*') {
            return "the stored name has a character Windows forbids in a file name";
        }
    }
    if (name.back() == '.' || name.back() == ' ') {
        return "the stored name ends with a dot or a space, which Windows drops";
    }
    if (IsDeviceName(name)) return "the stored name is a device's (CON, NUL, COM1, ...)";
    if (*units > kLongestStoredNameUnits) {
        return "the stored name is " + std::to_string(*units) + " units long; at most " +
               std::to_string(kLongestStoredNameUnits) +
               " install from the longest temporary "
               "directory the launcher takes (" +
               std::to_string(kLongestTemporaryDirectoryUnits) + " units)";
    }
    return std::nullopt;
}

}  // namespace tirn::format
