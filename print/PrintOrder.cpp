#include "print/PrintOrder.h"

#include <cstring>

#include "print/ExportPlan.h"
#include "print/PhotoFolder.h"
#include "print/WholePrint.h"
#include "imaging/Export.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

void PhotoSettings::Assign(const PhotoSettings& other) {
    if (&other == this) return;
    nFormat = other.nFormat;
    bRotated = other.bRotated;
    bCorrectLab = other.bCorrectLab;
    sizeSource = other.sizeSource;
    rcSource = other.rcSource;
    curve.Assign(other.curve);
    nPreset = other.nPreset;
    bWholePhoto = other.bWholePhoto;
}

void PrintOrder::Keep(const std::wstring& path, const PhotoSettings& settings) {
    const std::wstring key = devfs::LowerName(path);
    for (Entry& e : m_entries)
        if (e.key == key) {
            e.settings.Assign(settings);
            return;
        }
    Entry& e = m_entries.emplace_back();
    e.path = path;
    e.key = key;
    e.settings.Assign(settings);
}

const PhotoSettings* PrintOrder::Find(const std::wstring& path) const {
    const std::wstring key = devfs::LowerName(path);
    for (const Entry& e : m_entries)
        if (e.key == key) return &e.settings;
    return nullptr;
}

namespace {

// One red line for the whole order: photograph i of n fills its n-th.
class OrderProgress : public ProgressSink {
public:
    OrderProgress(ProgressSink& window, size_t index, size_t count)
        : m_window(window), m_index(index), m_count(count) {}
    void PumpOneMessage() override { m_window.PumpOneMessage(); }
    void DrawProgress(int percent) override {
        const int whole = static_cast<int>((m_index * 100 + static_cast<size_t>(percent)) / m_count);
        if (whole == m_last) return;
        m_last = whole;
        m_window.DrawProgress(whole);
    }

private:
    ProgressSink& m_window;
    size_t m_index;
    size_t m_count;
    int m_last = -1;
};

}  // namespace

std::wstring PhotoFailureText(const PhotoReport& report) {
    using Failure = PhotoReport::Failure;
    switch (report.failure) {
    case Failure::SourceUnreadable:
        return L"cannot be read (" + FromUtf8(std::strerror(report.error)) + L")";
    case Failure::SourceNotRegular: return L"not a file";
    case Failure::SourceUndecodable: return L"not a JPEG, or damaged";
    case Failure::SourceUnsupported: return L"not a colour or greyscale photograph";
    case Failure::SourceTooLarge: return L"too large to decode";
    case Failure::SourceDamaged: return L"damaged";
    case Failure::SourceTooSmall: return L"smaller than 800x600";
    case Failure::FrameOutside: return L"the photograph has changed since it was framed";
    case Failure::PrintTooLarge: return L"its whole print is larger than a JPEG can hold";
    case Failure::Destination:
        return report.error ? L"cannot create the file (" + FromUtf8(std::strerror(report.error)) + L")"
                            : L"cannot create the file";
    case Failure::None: break;
    }
    return L"cannot create the file";
}

std::vector<OrderResult> WriteOrder(const PrintOrder& order, const std::wstring& folder,
                                    const PrintFormatTable& formats, ProgressSink& progress,
                                    const std::function<void(size_t, size_t)>& onPhotograph) {
    const size_t count = order.GetCount();
    std::vector<OrderResult> results(count);
    for (size_t i = 0; i < count; ++i) {
        if (onPhotograph) onPhotograph(i, count);
        OrderResult& result = results[i];
        result.sourcePath = order.GetPath(i);
        const PhotoSettings& s = order.GetSettings(i);
        const float widthCm = formats.FrameWidthCm(s.nFormat, s.bRotated, s.bCorrectLab);
        const float heightCm = formats.FrameHeightCm(s.nFormat, s.bRotated, s.bCorrectLab);
        const auto& suffixes = PrintFormatSuffixes();
        const auto suffix = suffixes.find(s.nFormat);
        if (suffix == suffixes.end()) {
            result.why = L"no print format";
            continue;
        }
        ExportPlan plan;
        const ExportPlanResult planned = PlanExport(folder, result.sourcePath, suffix->second, s.rcSource,
                                                    s.sizeSource, widthCm, heightCm, plan, s.bWholePhoto);
        result.outputPath = plan.outputPath;
        if (planned == ExportPlanResult::OverwritesSource) {
            result.why = L"the new file would overwrite the photograph itself";
            continue;
        }
        if (planned == ExportPlanResult::EmptyRect) {
            result.why = L"its frame is empty";
            continue;
        }
        // Two photographs of one name from two folders would give one file
        // name: the second must not silently replace the first's file. Nor
        // may a file replace a photograph the order has yet to read.
        bool clash = false;
        for (size_t j = 0; j < i && !clash; ++j)
            clash = results[j].ok && IsSourceFile(plan.outputPath, results[j].outputPath);
        if (clash) {
            result.why = L"another photograph of the order has the same file name";
            continue;
        }
        for (size_t j = 0; j < count && !clash; ++j)
            clash = j != i && IsSourceFile(plan.outputPath, order.GetPath(j));
        if (clash) {
            result.why = L"the new file would overwrite another photograph of the order";
            continue;
        }

        OrderProgress line(progress, i, count);
        // The export takes the curve by reference; the order's stays as kept.
        ToneCurve curve;
        curve.Assign(s.curve);
        PhotoReport report;
        ExportExtras extras;
        extras.whiteMargins = MarginsAround(plan.print);
        result.ok = ExportFramedImageWith(result.sourcePath, plan.outputPath, plan.rcExport, line, curve, 95, extras,
                                          &report) != 0;
        if (!result.ok) result.why = PhotoFailureText(report);
    }
    return results;
}

std::wstring OrderMessage(const std::vector<OrderResult>& results, const std::wstring& folder) {
    size_t created = 0;
    for (const OrderResult& r : results) created += r.ok ? 1 : 0;
    std::wstring text;
    if (created == 0)
        text = FormatW(L"No file was created in \"%ls\".", folder.c_str());
    else if (created == 1)
        text = FormatW(L"1 file was created in \"%ls\".", folder.c_str());
    else
        text = FormatW(L"%zu files were created in \"%ls\".", created, folder.c_str());
    for (const OrderResult& r : results)
        if (!r.ok) text += L"\n" + NameOfPath(r.sourcePath) + L": " + r.why;
    return text;
}
