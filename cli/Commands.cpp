#include "cli/Commands.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "print/CropFrame.h"
#include "print/ExportPlan.h"
#include "print/PrintFormatTable.h"
#include "cli/HostPaths.h"
#include "cli/PhotoMessages.h"
#include "cli/PreviewFile.h"
#include "cli/Reporter.h"
#include "cli/Result.h"
#include "imaging/Export.h"
#include "imaging/Metadata.h"
#include "imaging/Pipeline.h"
#include "imaging/SourcePhoto.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

constexpr const char* kProgram = "trimora-cli";

std::string About(const std::string& file, const std::string& text) {
    return std::string(kProgram) + ": " + file + ": " + text;
}

// The same, for the reason a photograph is not written, which its result
// record keeps.
std::string Failure(ExportRecord& record, const std::string& file, const std::string& text) {
    record.error = text;
    return About(file, text);
}

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

struct ExportJob {
    std::string display;  // the photograph as the user named it
    std::wstring source;  // device path
    std::string error;    // set when planning already refused it
};

// Workers that find no photograph left free their core; an export still
// running may then take it for its encoder. Busy cores: one per photograph
// not yet finished (at most one per worker) and one per lent encoder.
class CoreLedger : public SpareCores {
public:
    void Reset(unsigned threads, size_t photographs) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads = threads;
        m_unfinished = photographs;
        m_lent = 0;
    }
    bool Claim() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_unfinished + m_lent >= m_threads) return false;
        ++m_lent;
        return true;
    }
    void Release() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_lent;
    }
    void Finished() {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_unfinished;
    }

private:
    std::mutex m_mutex;
    size_t m_threads = 1;
    size_t m_unfinished = 0;
    size_t m_lent = 0;
};

struct ExportRun {
    const CliOptions* options = nullptr;
    std::vector<ExportJob> jobs;
    Reporter* reporter = nullptr;
    std::wstring folder;
    std::wstring suffix;
    std::string formatName;
    float widthCm = 0.0f;
    float heightCm = 0.0f;
    std::atomic<int> failed{0};
    CoreLedger cores;
};

CRect FrameFor(const CliOptions& o, CSize size, float widthCm, float heightCm) {
    const CRect fitted = FitSourceRect(size.cx, size.cy, widthCm, heightCm);
    switch (o.frameMode) {
    case FrameMode::Fit:
        return fitted;
    case FrameMode::Center: {
        CRect r = fitted;
        r.OffsetRect((size.cx - fitted.Width()) / 2, (size.cy - fitted.Height()) / 2);
        return r;
    }
    case FrameMode::Given:
        return o.frame;
    }
    return fitted;
}

long PrintDpi(const CRect& rc, float widthCm, float heightCm) {
    return DotsPerInch(CSize(rc.Width(), rc.Height()), widthCm, heightCm);
}

void RecordWritten(ExportRecord& record, const std::string& outputHost, CSize pixels, float widthCm, float heightCm) {
    record.ok = true;
    record.output = outputHost;
    record.pixels = pixels;
    record.widthCm = widthCm;
    record.heightCm = heightCm;
    record.dpi = DotsPerInch(pixels, widthCm, heightCm);
}

bool ExportOne(ExportRun& run, size_t index, ExportRecord& record) {
    const CliOptions& o = *run.options;
    ExportJob& job = run.jobs[index];
    Reporter& reporter = *run.reporter;

    // Opened once for the whole export. Its header is read as the size's
    // and the frame's; damage in it is for the export to refuse (--strict).
    SourcePhoto source;
    PhotoReport opened;
    if (!source.Open(job.source, opened)) {
        reporter.Message(Failure(record, job.display, FailureText(opened, "")));
        return false;
    }
    const PhotoFacts& facts = source.Facts();
    if (facts.damagedOrientation) {
        record.warnings.push_back(DamagedOrientationText());
        reporter.Message(About(job.display, DamagedOrientationText()));
    }
    const CSize size = facts.Upright();
    PhotoReport sizeRule;
    sizeRule.strict = o.strict;
    if (!CheckSizeRule(source, sizeRule)) {
        reporter.Message(Failure(record, job.display, FailureText(sizeRule, "")));
        return false;
    }
    std::string error;

    const CRect frame = FrameFor(o, size, run.widthCm, run.heightCm);
    ExportPlan plan;
    switch (PlanExport(run.folder, job.source, run.suffix, frame, size, run.widthCm, run.heightCm, plan)) {
    case ExportPlanResult::OverwritesSource:
        reporter.Message(Failure(record, job.display, "You cannot overwrite the file, please select another folder."));
        return false;
    case ExportPlanResult::EmptyRect:
        reporter.Message(Failure(record, job.display, "the frame lies outside the photograph; nothing to export"));
        return false;
    case ExportPlanResult::Ready:
        break;
    }

    ToneCurve curve;
    if (o.preset >= 0)
        if (const TonePreset* preset = FindPresetByIndex(o.preset)) ApplyPreset(curve, *preset);
    JobProgressSink sink(reporter, index);
    const std::string outputHost = devfs::ToHostPath(plan.outputPath);
    std::vector<std::string> warnings;
    ExportExtras extras;
    extras.cores = &run.cores;
    extras.recordDpi = o.recordDpi ? static_cast<int>(PrintDpi(plan.rcExport, run.widthCm, run.heightCm)) : 0;
    extras.keepProfile = o.keepProfile;
    extras.keepMetadata = o.keepMetadata;
    extras.strict = o.strict;
    extras.warnings = &warnings;
    auto warn = [&] {
        for (const std::string& w : warnings) {
            record.warnings.push_back(w);
            reporter.Message(About(job.display, w));
        }
    };
    if (o.lossless) {
        LosslessCut cut;
        const int ok = ExportLossless(source, plan.outputPath, plan.rcExport, extras, cut, error);
        if (!ok) {
            reporter.Message(Failure(record, job.display, error));
            warn();
            return false;
        }
        RecordWritten(record, outputHost, CSize(cut.written.Width(), cut.written.Height()), run.widthCm,
                      run.heightCm);
        record.lossless = LosslessShift{cut.shiftX, cut.shiftY, cut.clipped};
        if (cut.clipped) warnings.push_back("the lossless cut was clipped to the photograph's edge");
        warn();
        const std::string lowDpi = WarnOfLowResolution(record, run.formatName, o.minDpi);
        if (!lowDpi.empty()) reporter.Message(About(job.display, lowDpi));
        return true;
    }
    PhotoReport report;
    report.strict = o.strict;
    const int ok = ExportFrame(source, plan.outputPath, plan.rcExport, sink, ExportLevels(curve).Table(), o.quality,
                               extras, report);
    if (!ok) {
        reporter.Message(Failure(record, job.display, FailureText(report, outputHost)));
        warn();
        return false;
    }
    RecordWritten(record, outputHost, CSize(plan.rcExport.Width(), plan.rcExport.Height()), run.widthCm, run.heightCm);
    if (!report.profileProblem.empty()) warnings.push_back(report.profileProblem);
    warn();
    const std::string damage = DamageText(report);
    if (!damage.empty()) {
        record.warnings.push_back(damage);
        reporter.Message(About(job.display, damage));
    }
    const std::string lowDpi = WarnOfLowResolution(record, run.formatName, o.minDpi);
    if (!lowDpi.empty()) reporter.Message(About(job.display, lowDpi));
    return true;
}

void ExportWorker(size_t index, void* context) {
    ExportRun& run = *static_cast<ExportRun*>(context);
    ExportJob& job = run.jobs[index];
    ExportRecord record;
    record.source = job.display;
    bool ok = false;
    if (!job.error.empty())
        run.reporter->Message(Failure(record, job.display, job.error));
    else
        ok = ExportOne(run, index, record);
    if (!ok) {
        ++run.failed;
        record.ok = false;
        if (record.error.empty()) record.error = "not written";
    }
    run.cores.Finished();
    // A failure has no tab line: its message on the error stream says it all.
    std::string line;
    if (run.options->json)
        line = JsonLine(record);
    else if (ok)
        line = TabLine(record);
    run.reporter->Finish(index, ok, line);
}

void SayError(const CliStreams& s, const std::string& text) {
    std::fprintf(s.err, "%s: %s\n", kProgram, text.c_str());
    std::fflush(s.err);
}

// A folder given as PHOTO that yields no photograph still gets its line, so
// that a script sees every operand it passed. These come before the others.
void SayJson(const CliStreams& s, const std::string& source, const std::string& error) {
    ExportRecord record;
    record.source = source;
    record.error = error;
    std::fprintf(s.out, "%s\n", JsonLine(record).c_str());
    std::fflush(s.out);
}

}  // namespace

int RunFormats(const CliOptions&, const CliStreams& s) {
    PrintFormatTable table;
    const auto& suffixes = PrintFormatSuffixes();
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i) {
        std::fprintf(s.out, "%d\t%s\t%gx%g cm\t%gx%g cm\t%s\n", i, ToUtf8(PrintFormatName(i)).c_str(),
                     static_cast<double>(table.FrameWidthCm(i, FALSE, TRUE)),
                     static_cast<double>(table.FrameHeightCm(i, FALSE, TRUE)),
                     static_cast<double>(table.FrameWidthCm(i, FALSE, FALSE)),
                     static_cast<double>(table.FrameHeightCm(i, FALSE, FALSE)), ToUtf8(suffixes.at(i)).c_str());
    }
    return 0;
}

int RunCurve(const CliOptions& o, const CliStreams& s) {
    ToneCurve curve;
    const TonePreset* preset = FindPresetByIndex(o.preset);
    // The list's prompt entry applies nothing: the curve stays the identity.
    if (preset) ApplyPreset(curve, *preset);
    curve.UpdateLut();
    for (int i = 0; i < 256; ++i) std::fprintf(s.out, "%d\n", static_cast<int>(curve.m_lut[i]));
    return 0;
}

int RunPreview(const CliOptions& o, const CliStreams& s) {
    const std::string& photo = o.photos.front();
    std::wstring source;
    std::string error;
    if (!HostToDevicePath(photo, false, source, error)) {
        SayError(s, photo + ": " + error);
        return 1;
    }
    Reporter reporter(1, s.out, s.err, s.bar);

    CSize box = o.box, size;
    PreviewBuffer preview;
    JobProgressSink sink(reporter, 0);
    PhotoReport report;
    report.strict = o.strict;
    if (!DecodePreview(source, box, size, preview, sink, report)) {
        reporter.Message(About(photo, FailureText(report, "")));
        return 1;
    }
    const std::string damage = DamageText(report);
    if (!damage.empty()) reporter.Message(About(photo, damage));
    if (report.damagedOrientation) reporter.Message(About(photo, DamagedOrientationText()));
    if (!report.profileProblem.empty()) reporter.Message(About(photo, report.profileProblem));
    reporter.Close();
    const bool bmp = o.out.size() >= 4 && o.out.compare(o.out.size() - 4, 4, ".bmp") == 0;
    if (!WritePreviewFile(o.out, preview, box, bmp ? PreviewFileType::Bmp : PreviewFileType::Ppm, error)) {
        SayError(s, o.out + ": " + error);
        return 1;
    }
    std::fprintf(s.out, "preview %dx%d source %dx%d\n", box.cx, box.cy, size.cx, size.cy);
    return 0;
}

int RunExport(const CliOptions& o, const CliStreams& s) {
    ExportRun run;
    run.options = &o;
    int failedEarly = 0;

    if (!IsHostFolder(o.toDir)) {
        SayError(s, o.toDir + ": not a folder");
        return 1;
    }
    std::string error;
    if (!HostToDevicePath(o.toDir, true, run.folder, error)) {
        SayError(s, o.toDir + ": " + error);
        return 1;
    }

    PrintFormatTable table;
    run.widthCm = table.FrameWidthCm(o.format, o.portrait, o.correctLab);
    run.heightCm = table.FrameHeightCm(o.format, o.portrait, o.correctLab);
    run.suffix = PrintFormatSuffixes().at(o.format);
    run.formatName = ToUtf8(PrintFormatName(o.format));

    std::vector<std::string> files;
    for (const std::string& photo : o.photos) {
        if (!IsHostFolder(photo)) {
            files.push_back(photo);
            continue;
        }
        const size_t before = files.size();
        const char* problem = nullptr;
        if (!ListJpegFiles(photo, files))
            problem = "cannot read the folder";
        else if (files.size() == before)
            problem = "no JPEG files in this folder";
        if (problem) {
            SayError(s, photo + ": " + problem);
            ++failedEarly;
            if (o.json) SayJson(s, photo, problem);
        }
    }

    // Every output name is known before anything runs. Two photographs that
    // would write the same file, or one that would write over another
    // photograph of the run while a worker reads it, are refused up front:
    // in parallel, either would leave a damaged file.
    std::map<std::string, size_t> sources, outputs;
    std::vector<std::string> outputHosts(files.size());
    run.jobs.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        ExportJob& job = run.jobs[i];
        job.display = files[i];
        if (!HostToDevicePath(files[i], false, job.source, job.error)) continue;
        sources.emplace(FileIdentity(devfs::ToHostPath(job.source)), i);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        ExportJob& job = run.jobs[i];
        if (!job.error.empty()) continue;
        const std::string outputHost = devfs::ToHostPath(MakeOutputPath(run.folder, job.source, run.suffix));
        const std::string id = FileIdentity(outputHost);
        outputHosts[i] = outputHost;
        const auto same = outputs.find(id);
        if (same != outputs.end()) {
            job.error = "skipped: " + outputHost + " is already written for " + run.jobs[same->second].display;
            const std::string& earlier = outputHosts[same->second];
            if (earlier != outputHost) job.error += " (as " + earlier + ": the storage takes both names for one file)";
            continue;
        }
        const auto other = sources.find(id);
        if (other != sources.end() && other->second != i) {
            job.error = "skipped: its output would replace " + run.jobs[other->second].display +
                        ", which is exported in the same run";
            continue;
        }
        outputs.emplace(id, i);
    }

    unsigned threads = o.jobs > 0 ? static_cast<unsigned>(o.jobs) : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    // Photographs decoded side by side keep the cores busy already.
    if (threads > 1 && run.jobs.size() > 1) SourcePhoto::SetHeifThreads(1);

    // exiv2 sets itself up on first use, which is not safe on several threads.
    if (o.keepMetadata || o.recordDpi) PrepareMetadataLibrary();
    run.cores.Reset(threads, run.jobs.size());
    Reporter reporter(run.jobs.size(), s.out, s.err, s.bar);
    run.reporter = &reporter;
    RunParallel(run.jobs.size(), threads, ExportWorker, &run);
    reporter.Close();
    return run.failed > 0 || failedEarly > 0 || run.jobs.empty() ? 1 : 0;
}

int RunCli(int argc, const char* const* argv, const CliStreams& s) {
    std::vector<std::string> args(argv, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseArgs(args, options, error)) {
        std::fprintf(s.err, "%s: %s\nTry '%s --help'.\n", kProgram, error.c_str(), kProgram);
        return 2;
    }
    if (options.version) {
        std::fputs(VersionText().c_str(), s.out);
        return 0;
    }
    if (options.help || options.command == CliCommand::None) {
        std::fputs(HelpText(options.command).c_str(), s.out);
        return 0;
    }
    // Host paths are device paths under a storage root at "/".
    devfs::SetStorageRoot("/");
    switch (options.command) {
    case CliCommand::Formats:
        return RunFormats(options, s);
    case CliCommand::Export:
        return RunExport(options, s);
    case CliCommand::Preview:
        return RunPreview(options, s);
    case CliCommand::Curve:
        return RunCurve(options, s);
    case CliCommand::None:
        break;
    }
    return 2;
}
