#include "print/BatchWriter.h"

#include <sys/stat.h>

#include <map>

#include "print/PhotoMessages.h"
#include "imaging/SourcePhoto.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

namespace {

// What identifies the file a host path leads to: the file itself when it
// exists (so that links and other spellings meet), its path otherwise, in
// the device's lower case: once the first of two names that differ only in
// case is written, the storage resolves the second to that same file.
std::string FileIdentity(const std::string& hostPath) {
    struct stat st {};
    if (::stat(hostPath.c_str(), &st) == 0)
        return "i" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    std::wstring wide;
    if (FromUtf8(hostPath, wide)) return "p" + ToUtf8(devfs::LowerName(wide));
    return "p" + hostPath;
}

const std::wstring* SuffixOf(int32_t format) {
    const auto& suffixes = PrintFormatSuffixes();
    const auto found = suffixes.find(format);
    return found == suffixes.end() ? nullptr : &found->second;
}

}  // namespace

BatchWriter::BatchWriter(const std::wstring& folder, std::vector<BatchItem> items, const PrintFormatTable& formats)
    : m_folder(folder), m_formats(formats), m_items(std::move(items)), m_entries(m_items.size()) {
    PlanNames();
}

// Two photographs that would write the same file, or one that would write
// over another photograph of the batch before (or while) that one is read,
// are refused up front: written one after the other the first file would be
// lost, written in parallel either would be damaged. The earlier photograph
// of the batch keeps its name.
void BatchWriter::PlanNames() {
    std::map<std::string, size_t> sources, outputs;
    for (size_t i = 0; i < m_items.size(); ++i)
        if (!m_items[i].source.empty()) sources.emplace(FileIdentity(devfs::ToHostPath(m_items[i].source)), i);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const BatchItem& item = m_items[i];
        BatchEntry& entry = m_entries[i];
        if (item.source.empty()) continue;
        const std::wstring* suffix = SuffixOf(item.settings.nFormat);
        if (!suffix) {
            entry.refusal = BatchRefusal::NoFormat;
            continue;
        }
        entry.outputPath = item.output.empty() ? MakeOutputPath(m_folder, item.source, *suffix) : item.output;
        entry.outputHost = devfs::ToHostPath(entry.outputPath);
        const std::string id = FileIdentity(entry.outputHost);
        const auto same = outputs.find(id);
        if (same != outputs.end()) {
            entry.refusal = BatchRefusal::SameOutput;
            entry.other = same->second;
            continue;
        }
        const auto other = sources.find(id);
        if (other != sources.end() && other->second != i) {
            entry.refusal = BatchRefusal::ReplacesPhotograph;
            entry.other = other->second;
            continue;
        }
        outputs.emplace(id, i);
    }
}

float BatchWriter::WidthCm(size_t i) const {
    const PhotoSettings& s = m_items[i].settings;
    if (!SuffixOf(s.nFormat)) return 0.0f;
    return m_formats.FrameWidthCm(s.nFormat, s.bRotated, s.bCorrectLab);
}

float BatchWriter::HeightCm(size_t i) const {
    const PhotoSettings& s = m_items[i].settings;
    if (!SuffixOf(s.nFormat)) return 0.0f;
    return m_formats.FrameHeightCm(s.nFormat, s.bRotated, s.bCorrectLab);
}

BatchRefusal BatchWriter::Prepare(size_t i, ExportPlan& plan) const {
    const BatchEntry& entry = m_entries[i];
    if (entry.refusal != BatchRefusal::None) return entry.refusal;
    const BatchItem& item = m_items[i];
    // The name is the planned one: the suffix was found when it was planned.
    switch (PlanExport(m_folder, item.source, *SuffixOf(item.settings.nFormat), item.settings.rcSource,
                       item.settings.sizeSource, WidthCm(i), HeightCm(i), plan)) {
    case ExportPlanResult::OverwritesSource:
        return BatchRefusal::OverwritesSource;
    case ExportPlanResult::EmptyRect:
        return BatchRefusal::EmptyFrame;
    case ExportPlanResult::Ready:
        break;
    }
    if (!item.output.empty()) {
        plan.outputPath = item.output;
        if (IsSourceFile(plan.outputPath, item.source)) return BatchRefusal::OverwritesSource;
    }
    return BatchRefusal::None;
}

int BatchWriter::Write(size_t i, const ExportPlan& plan, ProgressSink& progress, int quality,
                       const ExportExtras& extras, PhotoReport& report) const {
    SourcePhoto source;
    if (!source.Open(m_items[i].source, report)) return 0;
    return Write(i, source, plan, progress, quality, extras, report);
}

int BatchWriter::Write(size_t i, SourcePhoto& source, const ExportPlan& plan, ProgressSink& progress, int quality,
                       const ExportExtras& extras, PhotoReport& report) const {
    // Rebuilding the table changes the curve; the item's own stays as kept.
    ToneCurve curve = m_items[i].settings.curve;
    const ToneLevels tone = ExportLevels(curve);
    return ExportFrame(source, plan.outputPath, plan.rcExport, progress, tone.Table(), quality, extras, report);
}

std::string BatchWriter::RefusalText(size_t i, BatchRefusal refusal) const {
    const BatchEntry& entry = m_entries[i];
    switch (refusal) {
    case BatchRefusal::SameOutput:
        return SameOutputText(entry.outputHost, m_items[entry.other].display, m_entries[entry.other].outputHost);
    case BatchRefusal::ReplacesPhotograph:
        return ReplacesPhotographText(m_items[entry.other].display);
    case BatchRefusal::OverwritesSource:
        return OverwritesSourceText();
    case BatchRefusal::EmptyFrame:
        return EmptyFrameText();
    case BatchRefusal::NoFormat:
        return NoFormatText();
    case BatchRefusal::None:
        break;
    }
    return {};
}
