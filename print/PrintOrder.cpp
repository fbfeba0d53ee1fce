#include "print/PrintOrder.h"

#include "print/BatchWriter.h"
#include "print/ExportPlan.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

void PrintOrder::Keep(const std::wstring& path, const PhotoSettings& settings) {
    const std::wstring key = devfs::LowerName(path);
    for (Entry& e : m_entries)
        if (e.key == key) {
            e.settings = settings;
            return;
        }
    Entry& e = m_entries.emplace_back();
    e.path = path;
    e.key = key;
    e.settings = settings;
}

size_t PrintOrder::IndexOf(const std::wstring& path) const {
    const std::wstring key = devfs::LowerName(path);
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (m_entries[i].key == key) return i;
    return m_entries.size();
}

const PhotoSettings* PrintOrder::Find(const std::wstring& path) const {
    const size_t i = IndexOf(path);
    return i < m_entries.size() ? &m_entries[i].settings : nullptr;
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

std::vector<BatchItem> OrderBatchItems(const PrintOrder& order, const std::vector<std::wstring>& outputs) {
    std::vector<BatchItem> items(order.GetCount());
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].source = order.GetPath(i);
        items[i].display = devfs::ToHostPath(items[i].source);
        items[i].settings = order.GetSettings(i);
        if (i < outputs.size()) items[i].output = outputs[i];
    }
    return items;
}

OrderResult WriteOrderPhotograph(const BatchWriter& batch, size_t i, ProgressSink& progress) {
    const BatchItem& item = batch.GetItem(i);
    OrderResult result;
    result.sourcePath = item.source;
    result.display = FromUtf8(item.display);
    result.outputPath = batch.GetEntry(i).outputPath;
    ExportPlan plan;
    const BatchRefusal refusal = batch.Prepare(i, plan);
    if (refusal != BatchRefusal::None) {
        result.why = FromUtf8(batch.RefusalText(i, refusal));
        return result;
    }
    OrderProgress line(progress, i, batch.GetCount());
    PhotoReport report;
    result.ok = batch.Write(i, plan, line, 95, ExportExtras(), report) != 0;
    if (!result.ok) {
        result.why = FromUtf8(FailureText(report, batch.GetEntry(i).outputHost));
        return result;
    }
    // What trimora-cli would warn of, for a print the lab might refuse.
    const float widthCm = batch.WidthCm(i), heightCm = batch.HeightCm(i);
    const long dpi = DotsPerInch(plan.print.print, widthCm, heightCm);
    if (dpi < LOW_PRINT_DPI)
        result.notes.push_back(
            FromUtf8(LowResolutionText(ToUtf8(PrintFormatName(item.settings.nFormat)), dpi, LOW_PRINT_DPI)));
    const std::string damage = DamageText(report);
    if (!damage.empty()) result.notes.push_back(FromUtf8(damage));
    return result;
}

std::vector<OrderResult> WriteOrder(const PrintOrder& order, const std::wstring& folder,
                                    const PrintFormatTable& formats, ProgressSink& progress,
                                    const std::function<void(size_t, size_t)>& onPhotograph) {
    const BatchWriter batch(folder, OrderBatchItems(order), formats);
    std::vector<OrderResult> results(batch.GetCount());
    for (size_t i = 0; i < results.size(); ++i) {
        if (onPhotograph) onPhotograph(i, results.size());
        results[i] = WriteOrderPhotograph(batch, i, progress);
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
    // Each photograph by its path on this computer: two of one name from two
    // folders are told apart, and the refused one's line names both.
    for (const OrderResult& r : results)
        if (!r.ok) text += L"\n" + r.display + L": " + r.why;
    for (const OrderResult& r : results)
        for (const std::wstring& note : r.notes) text += L"\n" + r.display + L": " + note;
    return text;
}
