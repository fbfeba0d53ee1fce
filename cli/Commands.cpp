#include "cli/Commands.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "print/BatchWriter.h"
#include "print/CropFrame.h"
#include "print/ExportPlan.h"
#include "print/PhotoMessages.h"
#include "print/PrintFormatTable.h"
#include "print/WholePrint.h"
#include "cli/HostPaths.h"
#include "cli/JpegHeader.h"
#include "cli/PreviewFile.h"
#include "cli/Reporter.h"
#include "cli/Result.h"
#include "imaging/Export.h"
#include "imaging/Metadata.h"
#include "imaging/Pipeline.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "platform/Strings.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

constexpr const char* kProgram = "trimora-cli";

// The photograph a worker is busy with, so that a message the engine shows
// from inside it can say which one it is about.
thread_local const std::string* t_currentFile = nullptr;
thread_local int t_messages = 0;
// Why the photograph failed, for its result record: the last refusal said.
thread_local std::string t_failure;

class CurrentFile {
public:
    explicit CurrentFile(const std::string& name) : m_previous(t_currentFile) {
        t_currentFile = &name;
        t_messages = 0;
        t_failure.clear();
    }
    ~CurrentFile() { t_currentFile = m_previous; }

private:
    const std::string* m_previous;
};

std::string About(const std::string& file, const std::string& text) {
    return std::string(kProgram) + ": " + file + ": " + text;
}

// The same, for the reason a photograph is not written.
std::string Failure(const std::string& file, const std::string& text) {
    t_failure = text;
    return About(file, text);
}

// The engine's message boxes become lines on the error stream. Whatever the
// handler was before comes back when the command ends.
class MessagesToReporter {
public:
    explicit MessagesToReporter(Reporter& reporter) {
        m_previous = SetMessageBoxHandler([&reporter](const MessageRequest& request) {
            const std::string text = ToUtf8(request.text);
            t_failure = text;
            reporter.Message(t_currentFile ? About(*t_currentFile, text) : std::string(kProgram) + ": " + text);
            ++t_messages;
            return 1;
        });
    }
    ~MessagesToReporter() { SetMessageBoxHandler(std::move(m_previous)); }

private:
    MessageBoxHandler m_previous;
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
    // The photographs, their output names planned; each worker changes only
    // its own photograph's frame.
    std::optional<BatchWriter> batch;
    // Why a photograph is refused before any work: its name, or the plan.
    std::vector<std::string> refused;
    Reporter* reporter = nullptr;
    std::string formatName;
    std::atomic<int> failed{0};
    CoreLedger cores;
};

// The tone curve of a preset's list index; the identity for none (or the
// list's prompt, which applies nothing).
ToneCurve CurveOfPreset(int listIndex) {
    ToneCurve curve;
    if (const TonePreset* preset = FindPresetByIndex(listIndex)) ApplyPreset(curve, *preset);
    return curve;
}

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
    case FrameMode::Whole:
        break;  // no frame: the plan takes the whole photograph
    }
    return fitted;
}


// One photograph of the run, as its worker sees it.
struct PhotoJob {
    ExportRun& run;
    size_t index;
    ExportRecord& record;
    // What the user should know of the file, said once the export has ended.
    std::vector<std::string> warnings;

    const CliOptions& Options() const { return *run.options; }
    BatchItem& Item() const { return run.batch->GetItem(index); }
    const std::string& Display() const { return Item().display; }
    void Say(const std::string& text) const { run.reporter->Message(About(Display(), text)); }
    // Said, and kept as the reason the photograph is not written.
    void Refuse(const std::string& text) const { run.reporter->Message(Failure(Display(), text)); }
    void Note(const std::string& text) {
        record.warnings.push_back(text);
        Say(text);
    }
};

// The photograph's upright size, from its header (or, for one below the size
// rule, from the decoder that owns the rule and its message).
bool MeasurePhotograph(PhotoJob& job, CSize& size) {
    JpegHeader header;
    std::string error;
    if (!ReadJpegHeader(job.Item().source, header, error)) {
        job.Refuse(error);
        return false;
    }
    if (header.damagedOrientation) job.Note(DamagedOrientationText());
    size = CSize(header.width, header.height);
    // The size rule is the stored size's, as the decoder reports it.
    if (header.storedWidth >= 800 && header.storedHeight >= 600) return true;
    // Asking the preview decoder costs nothing for a photograph this small.
    CSize box(800, 600);
    PreviewBuffer preview;
    NullProgressSink quiet;
    PhotoReport report;
    report.strict = job.Options().strict;
    if (!LoadPreview(job.Item().source, box, size, preview, quiet, &report)) {
        const std::string why = FailureText(report, "");
        if (!why.empty() || t_messages == 0) job.Refuse(why.empty() ? "Cannot open this file" : why);
        return false;
    }
    return true;
}

// The frame the options ask for on this photograph, and what it writes.
bool PlanPhotograph(PhotoJob& job, CSize size, ExportPlan& plan) {
    const BatchWriter& batch = *job.run.batch;
    PhotoSettings& settings = job.Item().settings;
    settings.sizeSource = size;
    // --portrait auto: a photograph taller than wide as it stands gets the
    // format's sides turned.
    if (job.Options().autoPortrait) settings.bRotated = size.cy > size.cx;
    settings.rcSource = FrameFor(job.Options(), size, batch.WidthCm(job.index), batch.HeightCm(job.index));
    settings.bWholePhoto = job.Options().frameMode == FrameMode::Whole;
    const BatchRefusal refusal = batch.Prepare(job.index, plan);
    if (refusal == BatchRefusal::None) return true;
    job.Refuse(batch.RefusalText(job.index, refusal));
    return false;
}

ExportExtras ExtrasFor(PhotoJob& job, const ExportPlan& plan) {
    const CliOptions& o = job.Options();
    ExportExtras extras;
    extras.cores = &job.run.cores;
    extras.recordDpi = o.recordDpi ? static_cast<int>(DotsPerInch(plan.print.print, job.run.batch->WidthCm(job.index),
                                                                  job.run.batch->HeightCm(job.index)))
                                   : 0;
    extras.keepProfile = o.keepProfile;
    extras.keepMetadata = o.keepMetadata;
    extras.strict = o.strict;
    extras.warnings = &job.warnings;
    return extras;
}

void RecordWritten(PhotoJob& job, const ExportPlan& plan, CSize pixels) {
    ExportRecord& record = job.record;
    record.ok = true;
    record.output = devfs::ToHostPath(plan.outputPath);
    record.pixels = pixels;
    record.widthCm = job.run.batch->WidthCm(job.index);
    record.heightCm = job.run.batch->HeightCm(job.index);
    record.dpi = DotsPerInch(pixels, record.widthCm, record.heightCm);
}

// The framed part cut from the photograph's coefficients.
bool CutLossless(PhotoJob& job, const ExportPlan& plan, const ExportExtras& extras) {
    LosslessCut cut;
    std::string error;
    if (!ExportLossless(job.Item().source, plan.outputPath, plan.rcExport, extras, cut, error)) {
        job.Refuse(error);
        return false;
    }
    RecordWritten(job, plan, CSize(cut.written.Width(), cut.written.Height()));
    job.record.lossless = LosslessShift{cut.shiftX, cut.shiftY, cut.clipped};
    const std::string inward = MovedInwardText(*job.record.lossless);
    if (!inward.empty()) job.warnings.push_back(inward);
    if (cut.clipped) job.warnings.push_back("the lossless cut was clipped to the photograph's edge");
    return true;
}

// The framed part decoded, tone-mapped and encoded again.
bool Encode(PhotoJob& job, const ExportPlan& plan, const ExportExtras& extras, PhotoReport& report) {
    const BatchWriter& batch = *job.run.batch;
    JobProgressSink sink(*job.run.reporter, job.index);
    report.strict = job.Options().strict;
    if (!batch.Write(job.index, plan, sink, job.Options().quality, extras, report)) {
        job.Refuse(FailureText(report, devfs::ToHostPath(plan.outputPath)));
        return false;
    }
    RecordWritten(job, plan, plan.print.print);
    if (!report.profileProblem.empty()) job.warnings.push_back(report.profileProblem);
    return true;
}

bool ExportOne(ExportRun& run, size_t index, ExportRecord& record) {
    PhotoJob job{run, index, record, {}};
    CSize size;
    ExportPlan plan;
    if (!MeasurePhotograph(job, size) || !PlanPhotograph(job, size, plan)) return false;
    const ExportExtras extras = ExtrasFor(job, plan);
    PhotoReport report;
    const bool written = run.options->lossless ? CutLossless(job, plan, extras) : Encode(job, plan, extras, report);
    // What the engine left out is said whether or not the file was written.
    const std::vector<std::string> warnings = std::move(job.warnings);
    for (const std::string& w : warnings) job.Note(w);
    if (!written) return false;
    const std::string damage = DamageText(report);
    if (!damage.empty()) job.Note(damage);
    const std::string lowDpi = WarnOfLowResolution(record, run.formatName, run.options->minDpi);
    if (!lowDpi.empty()) job.Say(lowDpi);
    return true;
}

void ExportWorker(size_t index, void* context) {
    ExportRun& run = *static_cast<ExportRun*>(context);
    const std::string& display = run.batch->GetItem(index).display;
    CurrentFile current(display);
    ExportRecord record;
    record.source = display;
    bool ok = false;
    if (!run.refused[index].empty())
        run.reporter->Message(Failure(display, run.refused[index]));
    else
        ok = ExportOne(run, index, record);
    if (!ok) {
        ++run.failed;
        record.ok = false;
        record.error = t_failure.empty() ? "not written" : t_failure;
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
    ToneCurve curve = CurveOfPreset(o.preset);
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
    MessagesToReporter messages(reporter);
    CurrentFile current(photo);

    CSize box = o.box, size;
    PreviewBuffer preview;
    JobProgressSink sink(reporter, 0);
    PhotoReport report;
    report.strict = o.strict;
    if (!LoadPreview(source, box, size, preview, sink, &report)) {
        const std::string why = FailureText(report, "");
        if (!why.empty() || t_messages == 0)
            reporter.Message(About(photo, why.empty() ? "Cannot open this file" : why));
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
    std::wstring folder;

    if (!IsHostFolder(o.toDir)) {
        SayError(s, o.toDir + ": not a folder");
        return 1;
    }
    std::string error;
    if (!HostToDevicePath(o.toDir, true, folder, error)) {
        SayError(s, o.toDir + ": " + error);
        return 1;
    }
    // Refused here, once, rather than once for every photograph.
    if (const int why = FolderRefusesFiles(o.toDir)) {
        SayError(s, o.toDir + ": cannot write into this folder: " + std::strerror(why));
        return 1;
    }

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
        // A second run into the photographs' own folder exports no export.
        if (const size_t skipped = DropOwnExports(files, before))
            SayError(s, photo + ": skipped " + std::to_string(skipped) + (skipped == 1 ? " file" : " files") +
                            " this program wrote (a photograph's name with a print format's suffix, beside it)");
        if (problem) {
            SayError(s, photo + ": " + problem);
            ++failedEarly;
            if (o.json) SayJson(s, photo, problem);
        }
    }

    // Every photograph with the same settings; the frame follows from each
    // one's size.
    PhotoSettings settings;
    settings.nFormat = o.format;
    settings.bRotated = o.portrait;
    settings.bCorrectLab = o.correctLab;
    settings.curve = CurveOfPreset(o.preset);
    settings.nPreset = o.preset;
    std::vector<BatchItem> items(files.size());
    run.refused.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        items[i].display = files[i];
        items[i].settings = settings;
        if (!HostToDevicePath(files[i], false, items[i].source, run.refused[i])) items[i].source.clear();
    }
    // Every output name is known before anything runs: a clash is refused
    // before a worker could write half of it.
    const size_t count = files.size();
    run.batch.emplace(folder, std::move(items));
    for (size_t i = 0; i < count; ++i)
        if (run.refused[i].empty()) run.refused[i] = run.batch->RefusalText(i, run.batch->GetEntry(i).refusal);

    unsigned threads = o.jobs > 0 ? static_cast<unsigned>(o.jobs) : std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;

    // exiv2 sets itself up on first use, which is not safe on several threads.
    if (o.keepMetadata || o.recordDpi) PrepareMetadataLibrary();
    run.cores.Reset(threads, count);
    Reporter reporter(count, s.out, s.err, s.bar);
    run.reporter = &reporter;
    {
        MessagesToReporter messages(reporter);
        RunParallel(count, threads, ExportWorker, &run);
    }
    reporter.Close();
    return run.failed > 0 || failedEarly > 0 || count == 0 ? 1 : 0;
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
