#include "print/OrderFile.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <nlohmann/json.hpp>

#include "print/PhotoFolder.h"
#include "print/UserFile.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "tone/Presets.h"

using Json = nlohmann::ordered_json;

namespace {

// Hand-made files may nest without end; no order needs more than a few levels.
constexpr int MAX_DEPTH = 16;
struct TooDeep {};

// The photograph's size is what a decoder can hold; anything beyond is a
// damaged file, not a photograph.
constexpr int64_t MAX_SIDE = 1 << 20;

// A value as the file has it, for a message.
std::wstring Shown(const Json& value) { return FromUtf8(value.dump(-1, ' ', false, Json::error_handler_t::replace)); }

// One photograph's entry, read with messages that say what is wrong with it.
class EntryReader {
public:
    EntryReader(const Json& entry, size_t index) : m_entry(entry) {
        m_label = FormatW(L"photograph %zu", index + 1);
        const auto path = entry.is_object() ? entry.find("path") : entry.end();
        if (entry.is_object() && path != entry.end() && path->is_string())
            m_label += L" (" + FromUtf8(path->get_ref<const std::string&>()) + L")";
    }

    const std::wstring& Error() const { return m_error; }
    bool Fail(const std::wstring& why) {
        if (m_error.empty()) m_error = m_label + L": " + why;
        return false;
    }

    const Json* Field(const char* key) {
        const auto it = m_entry.find(key);
        if (it != m_entry.end()) return &*it;
        Fail(L"\"" + FromUtf8(key) + L"\" is missing");
        return nullptr;
    }

    bool Integer(const Json& value, int64_t low, int64_t high, int64_t& out) const {
        if (value.is_number_unsigned()) {
            const uint64_t u = value.get<uint64_t>();
            if (u > static_cast<uint64_t>(high)) return false;
            out = static_cast<int64_t>(u);
        } else if (value.is_number_integer()) {
            out = value.get<int64_t>();
        } else {
            return false;
        }
        return out >= low && out <= high;
    }

    bool Path(const std::wstring& folder, std::wstring& path) {
        const Json* value = Field("path");
        if (!value) return false;
        std::wstring relative;
        if (!value->is_string() || !FromUtf8(value->get_ref<const std::string&>(), relative) || relative.empty())
            return Fail(L"\"path\" must be the photograph's path relative to the order file");
        if (!ResolveRelativePath(folder, relative, 0, path) || path == L"\\")
            return Fail(L"\"path\" names no file inside the storage");
        return true;
    }

    bool Format(int32_t& format) {
        const Json* value = Field("format");
        if (!value) return false;
        std::wstring name;
        const int found = value->is_string() && FromUtf8(value->get_ref<const std::string&>(), name)
                              ? FindPrintFormat(name)
                              : -1;
        format = found;
        if (found >= 0) return true;
        return Fail(L"unknown print format " + Shown(*value));
    }

    bool Orientation(BOOL& rotated) {
        const Json* value = Field("orientation");
        if (!value) return false;
        if (*value == "landscape" || *value == "portrait") {
            rotated = *value == "portrait";
            return true;
        }
        return Fail(L"\"orientation\" must be \"landscape\" or \"portrait\"");
    }

    bool LabCorrection(BOOL& correct) {
        const Json* value = Field("labCorrection");
        if (!value) return false;
        if (!value->is_boolean()) return Fail(L"\"labCorrection\" must be true or false");
        correct = value->get<bool>() ? TRUE : FALSE;
        return true;
    }

    bool Size(CSize& size) {
        const Json* value = Field("size");
        if (!value) return false;
        int64_t w = 0, h = 0;
        if (!value->is_object() || !value->contains("width") || !value->contains("height") ||
            !Integer((*value)["width"], 1, MAX_SIDE, w) || !Integer((*value)["height"], 1, MAX_SIDE, h))
            return Fail(L"\"size\" must hold the photograph's \"width\" and \"height\" in pixels");
        size = CSize(static_cast<int32_t>(w), static_cast<int32_t>(h));
        return true;
    }

    bool Frame(const CSize& size, CRect& frame) {
        const Json* value = Field("frame");
        if (!value) return false;
        int64_t side[4] = {};
        const char* keys[4] = {"left", "top", "right", "bottom"};
        bool whole = value->is_object();
        for (int k = 0; k < 4 && whole; ++k)
            whole = value->contains(keys[k]) && Integer((*value)[keys[k]], 0, MAX_SIDE, side[k]);
        if (!whole) return Fail(L"\"frame\" must hold \"left\", \"top\", \"right\" and \"bottom\" in pixels");
        if (side[0] > side[2] || side[1] > side[3] || side[2] > size.cx || side[3] > size.cy)
            return Fail(FormatW(L"the frame %lld,%lld-%lld,%lld is not inside the photograph's %dx%d pixels",
                                static_cast<long long>(side[0]), static_cast<long long>(side[1]),
                                static_cast<long long>(side[2]), static_cast<long long>(side[3]), size.cx, size.cy));
        frame = CRect(static_cast<int32_t>(side[0]), static_cast<int32_t>(side[1]), static_cast<int32_t>(side[2]),
                      static_cast<int32_t>(side[3]));
        return true;
    }

    // The points say what the curve is; the preset, what the adjustment
    // dialog shows as picked. A preset this version does not know is shown as
    // none when the points are there.
    bool Curve(ToneCurve& curve, int32_t& presetIndex) {
        const Json* value = Field("curve");
        if (!value) return false;
        const wchar_t* why =
            L"\"curve\" must give a known \"preset\" or \"points\": 2 to 48 pairs [x, y] within 0..255, x rising";
        if (!value->is_object()) return Fail(why);
        const TonePreset* preset = nullptr;
        if (value->contains("preset")) {
            const Json& name = (*value)["preset"];
            if (name.is_string()) preset = FindPresetByName(name.get_ref<const std::string&>());
            if (preset && (preset->itemData < 0 || preset->nPoints < 2)) preset = nullptr;
        }
        presetIndex = preset ? PresetListIndex(preset) : PRESET_INDEX_NONE;
        if (!value->contains("points")) {
            if (!preset) return Fail(why);
            ApplyPreset(curve, *preset);
            curve.UpdateLut();
            return true;
        }
        const Json& points = (*value)["points"];
        if (!points.is_array() || points.size() < 2 || points.size() > MAX_TONE_POINTS) return Fail(why);
        int n = 0;
        for (const Json& point : points) {
            if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number())
                return Fail(why);
            const double x = point[0].get<double>();
            const double y = point[1].get<double>();
            if (!(x >= 0 && x <= 255 && y >= 0 && y <= 255) || (n > 0 && !(x > curve.m_x[n - 1]))) return Fail(why);
            curve.m_x[n] = x;
            curve.m_y[n] = y;
            ++n;
        }
        curve.m_nPoints = n;
        curve.UpdateSpline();
        curve.UpdateLut();
        return true;
    }

    bool Copies(int& copies) {
        const Json* value = Field("copies");
        if (!value) return false;
        int64_t n = 0;
        if (!Integer(*value, 1, MAX_COPIES, n))
            return Fail(FormatW(L"\"copies\" must be a whole number from 1 to %d", MAX_COPIES));
        copies = static_cast<int>(n);
        return true;
    }

private:
    const Json& m_entry;
    std::wstring m_label;
    std::wstring m_error;
};

bool ParseJson(std::string_view text, Json& root, std::wstring& error) {
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        error = L"the file is empty";
        return false;
    }
    try {
        root = Json::parse(text.begin(), text.end(), [](int depth, Json::parse_event_t, Json&) {
            if (depth > MAX_DEPTH) throw TooDeep{};
            return true;
        });
        return true;
    } catch (const Json::parse_error& e) {
        if (e.byte >= text.size())
            error = L"the file is cut short (its JSON ends too early)";
        else
            error = FormatW(L"the file is not valid JSON (byte %zu)", e.byte);
    } catch (const TooDeep&) {
        error = L"the file is not an order file (its JSON nests too deep)";
    } catch (const Json::exception& e) {
        // A number too large for any double, say.
        error = L"the file is not valid JSON (" + FromUtf8(e.what()) + L")";
    }
    return false;
}

bool ReadEntry(const Json& entry, size_t index, const std::wstring& folder, PrintOrder& order,
               std::wstring& error) {
    EntryReader read(entry, index);
    std::wstring path;
    PhotoSettings s;
    int copies = 1;
    const bool ok = (entry.is_object() || read.Fail(L"not a JSON object")) && read.Path(folder, path) &&
                    read.Format(s.nFormat) && read.Orientation(s.bRotated) && read.LabCorrection(s.bCorrectLab) &&
                    read.Size(s.sizeSource) && read.Frame(s.sizeSource, s.rcSource) &&
                    read.Curve(s.curve, s.nPreset) && read.Copies(copies) &&
                    (!order.Find(path) || read.Fail(L"named twice in the order"));
    if (!ok) {
        error = read.Error();
        return false;
    }
    order.Keep(path, s);
    order.SetCopies(order.GetCount() - 1, copies);
    return true;
}

}  // namespace

std::string OrderFileText(const PrintOrder& order, const std::wstring& orderPath) {
    const std::wstring folder = FolderOfPath(orderPath);
    Json root = Json::object();
    root["version"] = ORDER_FILE_VERSION;
    if (!order.m_strLastFolder.empty()) root["destination"] = RelativePathUtf8(folder, order.m_strLastFolder);
    Json& photographs = root["photographs"] = Json::array();
    for (size_t i = 0; i < order.GetCount(); ++i) {
        const PhotoSettings& s = order.GetSettings(i);
        const auto suffix = PrintFormatSuffixes().find(s.nFormat);
        Json curve = Json::object();
        const TonePreset* preset = FindPresetByIndex(s.nPreset);
        if (preset && preset->itemData >= 0) curve["preset"] = ToUtf8(preset->text);
        Json& points = curve["points"] = Json::array();
        for (int k = 0; k < s.curve.m_nPoints && k < MAX_TONE_POINTS; ++k)
            points.push_back(Json::array({s.curve.m_x[k], s.curve.m_y[k]}));
        photographs.push_back({
            {"path", RelativePathUtf8(folder, order.GetPath(i))},
            {"format", suffix == PrintFormatSuffixes().end() ? std::string() : ToUtf8(suffix->second.substr(1))},
            {"orientation", s.bRotated ? "portrait" : "landscape"},
            {"labCorrection", s.bCorrectLab != FALSE},
            {"size", {{"width", s.sizeSource.cx}, {"height", s.sizeSource.cy}}},
            {"frame",
             {{"left", s.rcSource.left},
              {"top", s.rcSource.top},
              {"right", s.rcSource.right},
              {"bottom", s.rcSource.bottom}}},
            {"curve", std::move(curve)},
            {"copies", order.GetCopies(i)},
        });
    }
    return root.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ParseOrderFile(std::string_view text, const std::wstring& orderPath, PrintOrder& order, std::wstring& error) {
    order = PrintOrder();
    Json root;
    if (!ParseJson(text, root, error)) return false;
    const auto version = root.is_object() ? root.find("version") : root.end();
    if (version == root.end()) {
        error = L"the file is not an order file (it has no \"version\")";
        return false;
    }
    if (!version->is_number_integer() || *version < 1) {
        error = L"the file's \"version\" is not an order file version: " + Shown(*version);
        return false;
    }
    if (*version > ORDER_FILE_VERSION) {
        error = FormatW(L"the file is of order file version %ls, made by a newer Trimora; this one reads version %d",
                        Shown(*version).c_str(), ORDER_FILE_VERSION);
        return false;
    }
    const std::wstring folder = FolderOfPath(orderPath);
    const auto photographs = root.find("photographs");
    if (photographs == root.end() || !photographs->is_array()) {
        error = L"the file has no list of \"photographs\"";
        return false;
    }
    for (size_t i = 0; i < photographs->size(); ++i)
        if (!ReadEntry((*photographs)[i], i, folder, order, error)) {
            order = PrintOrder();
            return false;
        }
    const auto destination = root.find("destination");
    std::wstring relative, resolved;
    if (destination != root.end()) {
        if (!destination->is_string() || !FromUtf8(destination->get_ref<const std::string&>(), relative) ||
            !ResolveRelativePath(folder, relative, 0, resolved)) {
            error = L"the file's \"destination\" is not a folder of the storage";
            order = PrintOrder();
            return false;
        }
        order.m_strLastFolder = resolved == L"\\" ? resolved : resolved + L"\\";
    }
    return true;
}

bool SaveOrderFile(const PrintOrder& order, const std::wstring& orderPath, std::wstring& error) {
    if (WriteUserFile(orderPath, OrderFileText(order, orderPath), error)) return true;
    error = NameOfPath(orderPath) + L": cannot save the order (" + error + L")";
    return false;
}

bool LoadOrderFile(const std::wstring& orderPath, PrintOrder& order, std::wstring& error) {
    order = PrintOrder();
    std::string text;
    if (ReadUserFile(orderPath, MAX_ORDER_FILE_BYTES, text, error) && ParseOrderFile(text, orderPath, order, error))
        return true;
    error = NameOfPath(orderPath) + L": " + error;
    return false;
}

std::wstring LeaveOutChangedPhotographs(PrintOrder& order, const PhotoSizeReader& currentSize) {
    std::wstring lines;
    for (size_t i = order.GetCount(); i-- > 0;) {
        const CSize kept = order.GetSettings(i).sizeSource;
        CSize now;
        std::wstring why;
        if (!currentSize(order.GetPath(i), now))
            why = L"missing or unreadable";
        else if (!(now == kept))
            why = FormatW(L"now %dx%d pixels, framed at %dx%d", now.cx, now.cy, kept.cx, kept.cy);
        else
            continue;
        lines = L"\n" + order.GetPath(i) + L": " + why + lines;
        order.Remove(i);
    }
    if (lines.empty()) return {};
    return L"Left out of the order, as they are gone or have changed since it was saved:" + lines;
}
