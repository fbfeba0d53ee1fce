#include "cli/Result.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// "key":"value", and when the value is a file name that is no UTF-8 (a
// Linux file name may hold any bytes), "key_hex" with its exact bytes, so
// that a script can still find the file.
void AddName(std::string& json, const char* key, const std::string& name) {
    json += std::string("\"") + key + "\":" + JsonString(name);
    if (!IsUtf8(name)) json += std::string(",\"") + key + "_hex\":\"" + Hex(name) + "\"";
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

std::string JsonString(std::string_view bytes) {
    std::string json = "\"";
    json.reserve(bytes.size() + 2);
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x80) {
            const size_t n = Utf8Sequence(bytes.substr(i));
            if (n == 0) {
                json += "\xEF\xBF\xBD";  // U+FFFD
                ++i;
            } else {
                json.append(bytes.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (c) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\b': json += "\\b"; break;
        case '\f': json += "\\f"; break;
        case '\n': json += "\\n"; break;
        case '\r': json += "\\r"; break;
        case '\t': json += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                json += escape;
            } else {
                json += static_cast<char>(c);
            }
        }
        ++i;
    }
    return json + "\"";
}

std::string WarnOfLowResolution(ExportRecord& record, const std::string& formatName, int minDpi) {
    if (!record.ok || record.dpi >= minDpi) return "";
    const std::string text = "low resolution for " + formatName + ": " + std::to_string(record.dpi) +
                             " dpi, below " + std::to_string(minDpi) + " dpi";
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
    return line;
}

std::string JsonLine(const ExportRecord& r) {
    std::string json = "{";
    AddName(json, "source", r.source);
    json += r.ok ? ",\"ok\":true" : ",\"ok\":false";
    if (r.ok) {
        json += ",";
        AddName(json, "output", r.output);
        json += ",\"width_px\":" + std::to_string(r.pixels.cx) + ",\"height_px\":" + std::to_string(r.pixels.cy);
        json += ",\"width_cm\":" + Number(r.widthCm) + ",\"height_cm\":" + Number(r.heightCm);
        json += ",\"dpi\":" + std::to_string(r.dpi);
    } else {
        json += ",\"error\":" + JsonString(r.error);
    }
    json += ",\"warnings\":[";
    for (size_t i = 0; i < r.warnings.size(); ++i) json += (i ? "," : "") + JsonString(r.warnings[i]);
    json += "]";
    if (r.ok) {
        if (r.lossless)
            json += ",\"lossless\":{\"left\":" + std::to_string(r.lossless->left) +
                    ",\"up\":" + std::to_string(r.lossless->up) +
                    ",\"clipped\":" + (r.lossless->clipped ? "true" : "false") + "}";
        else
            json += ",\"lossless\":null";
    }
    return json + "}";
}
