#include "cli/Commands.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "print/BatchWriter.h"
#include "print/CardOrder.h"
#include "print/CropFrame.h"
#include "print/Dpof.h"
#include "print/ExportPlan.h"
#include "print/OrderFile.h"
#include "print/PhotoMessages.h"
#include "print/PrintFormatTable.h"
#include "print/WholePrint.h"
#include "cli/HostPaths.h"
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
    // An order's photographs come with their frames, and their copies.
    bool framesGiven = false;
    std::vector<int> copies;
    Reporter* reporter = nullptr;
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
    void Refuse(const std::string& text) const { run.reporter->Message(Failure(record, Display(), text)); }
    void Note(const std::string& text) {
        record.warnings.push_back(text);
        Say(text);
    }
};

// The photograph opened for the whole export, and its upright size. Its
// header is read as the size's and the frame's; damage in it is for the
// export to refuse (--strict).
bool MeasurePhotograph(PhotoJob& job, SourcePhoto& source, CSize& size) {
    PhotoReport opened;
    if (!source.Open(job.Item().source, opened)) {
        job.Refuse(FailureText(opened, ""));
        return false;
    }
    const PhotoFacts& facts = source.Facts();
    if (facts.damagedOrientation) job.Note(DamagedOrientationText());
    size = facts.Upright();
    PhotoReport sizeRule;
    sizeRule.strict = job.Options().strict;
    if (!CheckSizeRule(source, sizeRule)) {
        job.Refuse(FailureText(sizeRule, ""));
        return false;
    }
    return true;
}

// The frame the options ask for on this photograph, and what it writes.
bool PlanPhotograph(PhotoJob& job, CSize size, ExportPlan& plan) {
    const BatchWriter& batch = *job.run.batch;
    PhotoSettings& settings = job.Item().settings;
    if (!job.run.framesGiven) {
        settings.sizeSource = size;
        // --portrait auto: a photograph taller than wide as it stands gets
        // the format's sides turned.
        if (job.Options().autoPortrait) settings.bRotated = size.cy > size.cx;
        settings.rcSource = FrameFor(job.Options(), size, batch.WidthCm(job.index), batch.HeightCm(job.index));
        settings.bWholePhoto = job.Options().frameMode == FrameMode::Whole;
    }
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
bool CutLossless(PhotoJob& job, SourcePhoto& source, const ExportPlan& plan, const ExportExtras& extras) {
    LosslessCut cut;
    std::string error;
    if (!ExportLossless(source, plan.outputPath, plan.rcExport, extras, cut, error)) {
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
bool Encode(PhotoJob& job, SourcePhoto& source, const ExportPlan& plan, const ExportExtras& extras,
            PhotoReport& report) {
    const BatchWriter& batch = *job.run.batch;
    JobProgressSink sink(*job.run.reporter, job.index);
    report.strict = job.Options().strict;
    if (!batch.Write(job.index, source, plan, sink, job.Options().quality, extras, report)) {
        job.Refuse(FailureText(report, devfs::ToHostPath(plan.outputPath)));
        return false;
    }
    RecordWritten(job, plan, plan.print.print);
    if (!report.profileProblem.empty()) job.warnings.push_back(report.profileProblem);
    return true;
}

bool ExportOne(ExportRun& run, size_t index, ExportRecord& record) {
    PhotoJob job{run, index, record, {}};
    SourcePhoto source;
    CSize size;
    ExportPlan plan;
    if (!MeasurePhotograph(job, source, size) || !PlanPhotograph(job, size, plan)) return false;
    const ExportExtras extras = ExtrasFor(job, plan);
    PhotoReport report;
    const bool written = run.options->lossless ? CutLossless(job, source, plan, extras)
                                               : Encode(job, source, plan, extras, report);
    // What the engine left out is said whether or not the file was written.
    const std::vector<std::string> warnings = std::move(job.warnings);
    for (const std::string& w : warnings) job.Note(w);
    if (!written) return false;
    const std::string damage = DamageText(report);
    if (!damage.empty()) job.Note(damage);
    const std::string lowDpi =
        WarnOfLowResolution(record, ToUtf8(PrintFormatName(job.Item().settings.nFormat)), run.options->minDpi);
    if (!lowDpi.empty()) job.Say(lowDpi);
    return true;
}

void ExportWorker(size_t index, void* context) {
    ExportRun& run = *static_cast<ExportRun*>(context);
    const std::string& display = run.batch->GetItem(index).display;
    ExportRecord record;
    record.source = display;
    if (!run.copies.empty()) record.copies = run.copies[index];
    bool ok = false;
    if (!run.refused[index].empty())
        run.reporter->Message(Failure(record, display, run.refused[index]));
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

// A folder given as PHOTO that yields no photograph, or a photograph left
// out of an order, still gets its line, so that a script sees every
// photograph it asked for. These come before the others.
void SayJson(const CliStreams& s, const std::string& source, const std::string& error, int copies = 0) {
    ExportRecord record;
    record.source = source;
    record.error = error;
    record.copies = copies;
    std::fprintf(s.out, "%s\n", JsonLine(record).c_str());
    std::fflush(s.out);
}

// A folder to write into, refused here, once, rather than once for every
// photograph.
bool OpenFolder(const std::string& hostFolder, const CliStreams& s, std::wstring& folder) {
    if (!IsHostFolder(hostFolder)) {
        SayError(s, hostFolder + ": not a folder");
        return false;
    }
    std::string error;
    if (!HostToDevicePath(hostFolder, true, folder, error)) {
        SayError(s, hostFolder + ": " + error);
        return false;
    }
    if (const int why = FolderRefusesFiles(hostFolder)) {
        SayError(s, hostFolder + ": cannot write into this folder: " + std::strerror(why));
        return false;
    }
    return true;
}

// What the options choose for every photograph, before its frame.
PhotoSettings SettingsOf(const CliOptions& o) {
    PhotoSettings settings;
    settings.nFormat = o.format;
    settings.bRotated = o.portrait;
    settings.bCorrectLab = o.correctLab;
    settings.curve = CurveOfPreset(o.preset);
    settings.nPreset = o.preset;
    return settings;
}

// Runs work with the run's reporter taking every line and message, the
// engine's too.
void WithReporter(ExportRun& run, const CliStreams& s, unsigned threads, size_t count,
                  const std::function<void()>& work) {
    // exiv2 sets itself up on first use, which is not safe on several threads.
    if (run.options->keepMetadata || run.options->recordDpi) PrepareMetadataLibrary();
    run.cores.Reset(threads, count);
    Reporter reporter(count, s.out, s.err, s.bar);
    run.reporter = &reporter;
    work();
    reporter.Close();
    run.reporter = nullptr;
}

unsigned Threads(const CliOptions& o) {
    const unsigned threads = o.jobs > 0 ? static_cast<unsigned>(o.jobs) : std::thread::hardware_concurrency();
    return threads == 0 ? 1 : threads;
}

// Every photograph of the run's batch, several at once.
void WriteInParallel(ExportRun& run, const CliStreams& s) {
    const size_t count = run.batch->GetCount();
    const unsigned threads = Threads(*run.options);
    // Photographs decoded side by side keep the cores busy already.
    if (threads > 1 && count > 1) SourcePhoto::SetHeifThreads(1);
    WithReporter(run, s, threads, count, [&] { RunParallel(count, threads, ExportWorker, &run); });
}

// The upright size of a photograph as it is now.
bool CurrentSize(const std::wstring& path, CSize& size) {
    SourcePhoto source;
    PhotoReport report;
    if (!source.Open(path, report)) return false;
    size = source.Facts().Upright();
    return true;
}

// A photograph marked on a card framed as 'export' frames it with the
// options: centred in --format, the orientation as --portrait says.
bool MarkedPhotoSettings(const CliOptions& o, const std::wstring& path, PhotoSettings& settings) {
    CSize size;
    if (!CurrentSize(path, size)) return false;
    settings = SettingsOf(o);
    settings.sizeSource = size;
    if (o.autoPortrait) settings.bRotated = size.cy > size.cx;
    const PrintFormatTable formats;
    settings.rcSource =
        FrameFor(o, size, formats.FrameWidthCm(settings.nFormat, settings.bRotated, settings.bCorrectLab),
                 formats.FrameHeightCm(settings.nFormat, settings.bRotated, settings.bCorrectLab));
    return true;
}

// The library's messages name files by their device paths; the user named
// them on this computer.
std::string OnHost(std::wstring text, const std::vector<std::wstring>& paths) {
    for (const std::wstring& path : paths) {
        const std::wstring host = FromUtf8(devfs::ToHostPath(path));
        for (size_t at = text.find(path); at != std::wstring::npos; at = text.find(path, at + host.size()))
            text.replace(at, path.size(), host);
    }
    return ToUtf8(text);
}

// One photograph an order asks for, before it is read.
struct Wanted {
    std::wstring path;
    int copies = 1;
};

// The order ORDER stands for: an order file, or a card's print marks. The
// photographs that cannot be written as it asks are named and taken out;
// leftOut counts them. False when nothing can be read from it.
bool ReadOrder(const CliOptions& o, const CliStreams& s, PrintOrder& order, size_t& leftOut) {
    const std::string& file = o.photos.front();
    std::wstring orderPath;
    std::string error;
    if (!HostToDevicePath(file, false, orderPath, error)) {
        SayError(s, file + ": " + error);
        return false;
    }
    std::vector<Wanted> wanted;
    std::wstring why, dropped;
    size_t lost = 0;
    if (IsPrintMarksPath(orderPath)) {
        DpofMarks marks;
        if (!ReadDpofMarks(orderPath, marks, why)) {
            SayError(s, OnHost(why, {orderPath}));
            return false;
        }
        // Index prints and the like are skipped as asked; a marked photograph
        // that is gone counts as one left out.
        if (!marks.notes.empty()) SayError(s, OnHost(marks.notes, {orderPath}));
        lost = marks.lost;
        for (const DpofPrint& print : marks.prints) wanted.push_back({print.path, print.copies});
        dropped = OrderFromMarks(
            marks, [&o](const std::wstring& path, PhotoSettings& settings) { return MarkedPhotoSettings(o, path, settings); },
            order);
    } else {
        if (!LoadOrderFile(orderPath, order, why)) {
            SayError(s, OnHost(why, {orderPath}));
            return false;
        }
        for (size_t i = 0; i < order.GetCount(); ++i) wanted.push_back({order.GetPath(i), order.GetCopies(i)});
        dropped = LeaveOutChangedPhotographs(order, CurrentSize);
    }
    std::vector<std::wstring> paths;
    for (const Wanted& w : wanted)
        if (!order.Find(w.path)) paths.push_back(w.path);
    leftOut = paths.size() + lost;
    if (dropped.empty()) return true;
    SayError(s, OnHost(dropped, paths));
    if (o.json)
        for (const Wanted& w : wanted)
            if (!order.Find(w.path)) SayJson(s, devfs::ToHostPath(w.path), "left out of the order", w.copies);
    return true;
}

// The order's photographs as a batch, each with its own settings, named in
// folder or, on a card, as outputs says.
void PlanOrder(ExportRun& run, const PrintOrder& order, const std::wstring& folder,
               const std::vector<std::wstring>& outputs) {
    const size_t count = order.GetCount();
    run.framesGiven = true;
    run.refused.resize(count);
    run.copies.resize(count);
    for (size_t i = 0; i < count; ++i) run.copies[i] = order.GetCopies(i);
    run.batch.emplace(folder, OrderBatchItems(order, outputs));
    for (size_t i = 0; i < count; ++i) run.refused[i] = run.batch->RefusalText(i, run.batch->GetEntry(i).refusal);
}

// The order onto the card at cardRoot: the photographs one after the
// other into the card's new folder, then the marks for those written.
bool WriteOntoCard(ExportRun& run, const PrintOrder& order, const std::wstring& cardRoot, const CliStreams& s) {
    CardPlan plan;
    std::wstring why;
    if (!PlanCard(cardRoot, order.GetCount(), plan, why)) {
        SayError(s, OnHost(why, {cardRoot}));
        return false;
    }
    std::vector<std::wstring> outputs;
    for (const std::wstring& name : plan.names) outputs.push_back(plan.folder + name);
    PlanOrder(run, order, plan.folder, outputs);
    const std::wstring mixed = MixedFormatsWarning(order);
    if (!mixed.empty()) SayError(s, ToUtf8(mixed));
    std::vector<bool> written;
    bool ok = false;
    WithReporter(run, s, Threads(*run.options), order.GetCount(), [&] {
        ok = WriteOrderToCard(
            order, cardRoot, run.options->replaceMarks,
            [&run](size_t i, const std::wstring& output) {
                // Planned again when written: a folder made meanwhile moves it.
                if (output != run.batch->GetEntry(i).outputPath)
                    run.refused[i] = "the card changed while the order was written onto it";
                const int failed = run.failed;
                ExportWorker(i, &run);
                return run.failed == failed;
            },
            plan, written, why);
    });
    if (!ok) SayError(s, OnHost(why, {plan.marksPath, plan.folder}));
    return ok;
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
    std::wstring folder;
    if (!OpenFolder(o.toDir, s, folder)) return 1;

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
    const PhotoSettings settings = SettingsOf(o);
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

    WriteInParallel(run, s);
    return run.failed > 0 || failedEarly > 0 || count == 0 ? 1 : 0;
}

int RunOrder(const CliOptions& o, const CliStreams& s) {
    std::wstring folder, cardRoot;
    if (!o.toDir.empty() && !OpenFolder(o.toDir, s, folder)) return 1;
    if (!o.cardDir.empty() && !OpenFolder(o.cardDir, s, cardRoot)) return 1;
    PrintOrder order;
    size_t leftOut = 0;
    if (!ReadOrder(o, s, order, leftOut)) return 1;
    if (order.GetCount() == 0 && leftOut == 0) SayError(s, o.photos.front() + ": the order has no photographs");
    ExportRun run;
    run.options = &o;
    bool ok = true;
    if (order.GetCount() > 0) {
        if (!cardRoot.empty()) {
            ok = WriteOntoCard(run, order, cardRoot, s);
        } else {
            PlanOrder(run, order, folder, {});
            WriteInParallel(run, s);
        }
    }
    return !ok || run.failed > 0 || leftOut > 0 || order.GetCount() == 0 ? 1 : 0;
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
    case CliCommand::Order:
        return RunOrder(options, s);
    case CliCommand::None:
        break;
    }
    return 2;
}
