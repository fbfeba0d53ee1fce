#include "cli/Result.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <nlohmann/json.hpp>

#include "print/PhotoMessages.h"

namespace {

// Length of the well-formed UTF-8 sequence at the start of s, or 0. No
// overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8Sequence(std::string_view s) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto follows = [&](size_t i, unsigned lo, unsigned hi) {
        return i < s.size() && byte(i) >= lo && byte(i) <= hi;
    };
    const unsigned b0 = byte(0);
    if (b0 < 0x80) return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF) return follows(1, 0x80, 0xBF) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
        return follows(1, lo, hi) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

std::string Hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// A number as "%.6g" writes it (29.7, 21, 10.4775): the float's few
// significant digits, not the double it widens to. Whole numbers stay
// integers, as nlohmann would write 21.0 otherwise.
nlohmann::ordered_json Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    if (std::strpbrk(text, ".eEinfINF") == nullptr) return std::strtoll(text, nullptr, 10);
    return std::strtod(text, nullptr);
}

// bytes with each byte that is not part of a well-formed UTF-8 sequence
// replaced by U+FFFD. nlohmann's own replacement takes a cut-short sequence
// for one character; a name's every stray byte is shown here.
std::string RepairedUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8Sequence(bytes.substr(i));
        if (n == 0) {
            text += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
        } else {
            text.append(bytes.substr(i, n));
            i += n;
        }
    }
    return text;
}

// The serialised form: DEL is escaped too, which JSON allows and a
// terminal prefers. No 0x7F byte occurs in UTF-8 but as itself, so each one
// in the text is inside a string.
std::string Dump(const nlohmann::ordered_json& json) {
    std::string text = json.dump();
    for (size_t at = text.find('\x7F'); at != std::string::npos; at = text.find('\x7F', at))
        text.replace(at, 1, "\\u007f");
    return text;
}

// "key":"value", and when the value is a file name that is no UTF-8 (a
// Linux file name may hold any bytes), "key_hex" with its exact bytes, so
// that a script can still find the file.
void AddName(nlohmann::ordered_json& json, const char* key, const std::string& name) {
    json[key] = RepairedUtf8(name);
    if (!IsUtf8(name)) json[std::string(key) + "_hex"] = Hex(name);
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8Sequence(bytes.substr(i));
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string JsonString(std::string_view bytes) { return Dump(RepairedUtf8(bytes)); }

std::string WarnOfLowResolution(ExportRecord& record, const std::string& formatName, int minDpi) {
    if (!record.ok || record.dpi >= minDpi) return "";
    const std::string text = LowResolutionText(formatName, record.dpi, minDpi);
    record.warnings.push_back(text);
    return text;
}

std::string Moved(int pixels, const char* back, const char* forward) {
    return std::to_string(pixels < 0 ? -pixels : pixels) + " px " + (pixels < 0 ? forward : back);
}

std::string MovedInwardText(const LosslessShift& shift) {
    std::string moved;
    if (shift.left < 0) moved = Moved(shift.left, "left", "right");
    if (shift.up < 0) moved += (moved.empty() ? "" : " and ") + Moved(shift.up, "up", "down");
    if (moved.empty()) return "";
    return "the lossless cut was moved " + moved +
           ", past the partial blocks at the photograph's edge that its turn cannot move";
}

std::string TabLine(const ExportRecord& r) {
    char text[128];
    std::snprintf(text, sizeof text, "\t%dx%d px\t%.1fx%.1f cm\t%ld dpi", r.pixels.cx, r.pixels.cy,
                  static_cast<double>(r.widthCm), static_cast<double>(r.heightCm), r.dpi);
    std::string line = r.output + text;
    if (r.lossless)
        line += "\tlossless, moved " + Moved(r.lossless->left, "left", "right") + " and " +
                Moved(r.lossless->up, "up", "down");
    if (r.copies > 0) line += "\t" + std::to_string(r.copies) + (r.copies == 1 ? " copy" : " copies");
    return line;
}

std::string JsonLine(const ExportRecord& r) {
    nlohmann::ordered_json json;
    AddName(json, "source", r.source);
    json["ok"] = r.ok;
    if (r.ok) {
        AddName(json, "output", r.output);
        json["width_px"] = r.pixels.cx;
        json["height_px"] = r.pixels.cy;
        json["width_cm"] = Number(r.widthCm);
        json["height_cm"] = Number(r.heightCm);
        json["dpi"] = r.dpi;
    } else {
        json["error"] = RepairedUtf8(r.error);
    }
    json["warnings"] = nlohmann::ordered_json::array();
    for (const std::string& warning : r.warnings) json["warnings"].push_back(RepairedUtf8(warning));
    if (r.ok) {
        json["lossless"] = nullptr;
        if (r.lossless)
            json["lossless"] = {{"left", r.lossless->left}, {"up", r.lossless->up}, {"clipped", r.lossless->clipped}};
    }
    // Last, so that an export's objects read as they always have.
    if (r.copies > 0) json["copies"] = r.copies;
    return Dump(json);
}
