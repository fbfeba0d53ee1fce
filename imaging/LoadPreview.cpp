// Decodes a photograph once, row by row, and averages it down into the
// preview while it goes: the full picture is never in memory.
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imaging/JpegSource.h"
#include "imaging/Pipeline.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "platform/WaitCursor.h"

namespace {

constexpr JDIMENSION MIN_WIDTH = 800;
constexpr JDIMENSION MIN_HEIGHT = 600;

// A multi-scan (progressive) file is read whole inside jpeg_start_decompress
// before the first row comes out; that reading takes this share of the
// progress line, the rows the rest. Reading is nearly all of the time: a
// 6000 x 4000 progressive photograph took 1.0 s to read its scans and 0.07 s
// to hand out its rows.
constexpr int SCAN_READING_PERCENT = 90;

// The library's progress monitor, with the way back to the window.
struct ScanMonitor {
    jpeg_progress_mgr pub{};
    ProgressSink* progress = nullptr;
    int* lastPercent = nullptr;
};

void OnScanProgress(j_common_ptr cinfo) {
    auto* monitor = reinterpret_cast<ScanMonitor*>(cinfo->progress);
    const jpeg_progress_mgr& p = monitor->pub;
    monitor->progress->PumpOneMessage();
    if (p.pass_limit <= 0) return;
    long percent = p.pass_counter * SCAN_READING_PERCENT / p.pass_limit;
    if (percent >= SCAN_READING_PERCENT) percent = SCAN_READING_PERCENT - 1;
    if (percent > *monitor->lastPercent) {
        monitor->progress->DrawProgress(static_cast<int>(percent));
        *monitor->lastPercent = static_cast<int>(percent);
    }
}

// Everything the decoding step touches lives here, in the caller's frame, so
// that a fatal library error that jumps back out of it finds every resource
// where the clean-up expects it.
struct PreviewJob {
    FILE* file = nullptr;
    CSize box;
    ProgressSink* progress = nullptr;
    PreviewBuffer* preview = nullptr;

    jpeg_decompress_struct cinfo{};
    JpegErrorTrap trap;
    std::jmp_buf jump;
    bool decoderCreated = false;
    ScanMonitor monitor;
    int lastPercent = -1;

    // Per-column sums of the band being gathered (16 or 32 bits each).
    // Adding rows into these as they arrive gives the same integer sums as
    // keeping the band's rows and adding them up at the end, with far less
    // memory traffic; rows are added a few at a time for the same reason.
    ByteBuffer columnSums;
    ByteBuffer windows;

    // Filled on success.
    CSize sourceSize;
    CSize previewSize;
};

enum class Outcome { Done, Refused, Failed };


// Decoded rows kept before they are added into the column sums.
constexpr int ROWS_PER_ADD = 4;

// The loops that touch every decoded byte, written so that the compiler
// vectorises them (none of the arrays overlap).
template <typename Sum>
void AddRows(Sum* __restrict sums, JSAMPROW const* rows, int count, size_t n) {
    const uint8_t* __restrict a = rows[0];
    const uint8_t* __restrict b = rows[count > 1 ? 1 : 0];
    const uint8_t* __restrict c = rows[count > 2 ? 2 : 0];
    const uint8_t* __restrict d = rows[count > 3 ? 3 : 0];
    switch (count) {
    case 4:
        for (size_t i = 0; i < n; ++i) sums[i] = static_cast<Sum>(sums[i] + a[i] + b[i] + c[i] + d[i]);
        break;
    case 3:
        for (size_t i = 0; i < n; ++i) sums[i] = static_cast<Sum>(sums[i] + a[i] + b[i] + c[i]);
        break;
    case 2:
        for (size_t i = 0; i < n; ++i) sums[i] = static_cast<Sum>(sums[i] + a[i] + b[i]);
        break;
    default:
        for (size_t i = 0; i < n; ++i) sums[i] = static_cast<Sum>(sums[i] + a[i]);
        break;
    }
}

template <typename Sum>
void SumColumns(const Sum* sums, int32_t x0, int32_t x1, uint64_t& r, uint64_t& g, uint64_t& b) {
    for (int32_t k = x0; k < x1; ++k) {
        r += sums[k * 3 + 0];
        g += sums[k * 3 + 1];
        b += sums[k * 3 + 2];
    }
}

// No object with a destructor may live in this function's frame: a fatal
// library error leaves it through longjmp.
Outcome Decode(PreviewJob& job) {
    if (setjmp(job.jump)) return Outcome::Failed;

    jpeg_decompress_struct& cinfo = job.cinfo;
    SourceColour colour = SourceColour::Rgb;
    job.monitor.pub.progress_monitor = OnScanProgress;
    job.monitor.progress = job.progress;
    job.monitor.lastPercent = &job.lastPercent;
    if (!StartRgbDecoder(cinfo, job.trap, &job.jump, job.file, job.decoderCreated, colour, &job.monitor.pub))
        return Outcome::Failed;
    // From here on the rows report progress themselves.
    cinfo.progress = nullptr;
    const bool scansRead = jpeg_has_multiple_scans(&cinfo);
    const int rowsFrom = scansRead ? SCAN_READING_PERCENT : 0;

    const JDIMENSION width = cinfo.output_width;
    const JDIMENSION height = cinfo.output_height;
    if (width < MIN_WIDTH || height < MIN_HEIGHT) {
        ShowMessageBox(L"Image must be lagrer then 800x600", L"Warning");
        return Outcome::Refused;
    }

    const int32_t W = static_cast<int32_t>(width);
    const int32_t H = static_cast<int32_t>(height);
    int32_t pw = job.box.cx;
    int32_t ph = job.box.cx * H / W;
    if (ph > job.box.cy) {
        ph = job.box.cy;
        pw = job.box.cy * W / H;
    }
    // Only a box far flatter than any preview area can truncate to nothing.
    if (pw < 1 || ph < 1) return Outcome::Failed;

    const float step = 1.0f / (static_cast<float>(pw) / static_cast<float>(W));
    const int32_t rowsPerBand = static_cast<int32_t>(std::floor(static_cast<double>(step)));

    // Rows that never get a complete band stay black, whatever the buffer
    // held before.
    PreviewBuffer& preview = *job.preview;
    preview.Clear();
    preview.Resize(static_cast<size_t>(pw) * ph * 3);
    // Sixteen bits hold the sum of up to 257 bytes: every band of a
    // photograph less than 257 times as wide as its preview.
    const bool narrowSums = rowsPerBand <= 257;
    const size_t sumSize = narrowSums ? sizeof(uint16_t) : sizeof(uint32_t);
    job.columnSums.Resize(static_cast<size_t>(W) * 3 * sumSize);
    auto* sums16 = reinterpret_cast<uint16_t*>(job.columnSums.Data());
    auto* sums32 = reinterpret_cast<uint32_t*>(job.columnSums.Data());

    // Preview column x averages source columns windows[x] .. windows[x+1]-1.
    // Columns right of the last window are never looked at.
    job.windows.Resize((static_cast<size_t>(pw) + 1) * sizeof(int32_t));
    auto* windows = reinterpret_cast<int32_t*>(job.windows.Data());
    for (int32_t x = 0; x <= pw; ++x) {
        const int32_t bound = static_cast<int32_t>(static_cast<float>(x) * step);
        windows[x] = bound < W ? bound : W;
    }
    const int32_t usedColumns = windows[pw];
    const size_t usedBytes = static_cast<size_t>(usedColumns) * 3;

    const int components = cinfo.output_components;
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&cinfo);
    JSAMPARRAY decoded = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, width * components, ROWS_PER_ADD);
    JSAMPARRAY rgb = decoded;
    if (colour != SourceColour::Rgb)
        rgb = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, width * 3, ROWS_PER_ADD);
    int pending = 0;  // rows read into decoded[0 .. pending - 1], not yet added
    auto addPending = [&] {
        if (narrowSums)
            AddRows(sums16, rgb, pending, usedBytes);
        else
            AddRows(sums32, rgb, pending, usedBytes);
        pending = 0;
    };

    int32_t consumed = 0;
    int32_t bandRows = 0;
    int32_t outRow = 0;
    float acc = 0.0f;
    int& lastPercent = job.lastPercent;

    while (cinfo.output_scanline < height) {
        job.progress->PumpOneMessage();
        const int percent = rowsFrom + static_cast<int>(int64_t(consumed) * (100 - rowsFrom) / H);
        if (percent != lastPercent) {
            job.progress->DrawProgress(percent);
            lastPercent = percent;
        }
        JSAMPROW row = decoded[pending];
        jpeg_read_scanlines(&cinfo, &row, 1);
        if (outRow >= ph) continue;

        if (colour != SourceColour::Rgb)
            CmykToRgb(row, rgb[pending], usedColumns, colour == SourceColour::CmykInverted);
        ++pending;
        ++bandRows;
        if (bandRows < rowsPerBand) {
            if (pending == ROWS_PER_ADD) addPending();
            ++consumed;
            continue;
        }
        addPending();

        uint8_t* out = preview.Data() + static_cast<size_t>(outRow) * pw * 3;
        for (int32_t x = 0; x < pw; ++x) {
            const int32_t x0 = windows[x], x1 = windows[x + 1];
            uint64_t sum[3] = {0, 0, 0};
            if (narrowSums)
                SumColumns(sums16, x0, x1, sum[0], sum[1], sum[2]);
            else
                SumColumns(sums32, x0, x1, sum[0], sum[1], sum[2]);
            const uint64_t n = static_cast<uint64_t>(x1 - x0) * static_cast<uint64_t>(rowsPerBand);
            for (int ch = 0; ch < 3; ++ch) {
                // Thirty-two-bit division where the sums allow it: it is
                // several times faster than the 64-bit one.
                uint64_t v = 0;
                if (sum[ch] <= UINT32_MAX && n <= UINT32_MAX)
                    v = n ? uint32_t(sum[ch]) / uint32_t(n) : 0;
                else
                    v = sum[ch] / n;
                out[x * 3 + ch] = static_cast<uint8_t>(v > 255 ? 255 : v);
            }
        }
        std::memset(job.columnSums.Data(), 0, usedBytes * sumSize);

        ++outRow;
        acc += step;
        const int32_t skip = static_cast<int32_t>(acc) - consumed - 1;
        if (skip > 0) {
            for (int32_t i = 0; i < skip; ++i) jpeg_read_scanlines(&cinfo, decoded, 1);
            consumed += skip;
        }
        bandRows = 0;
        ++consumed;
    }

    // Every row has been read. What may still follow in the file is at most
    // trailing markers or junk; jpeg_finish_decompress would turn some junk
    // into a fatal error and cost the user a picture that decoded fine, so
    // the decoder is simply released.
    job.sourceSize = CSize(W, H);
    job.previewSize = CSize(pw, ph);
    return Outcome::Done;
}

}  // namespace

int LoadPreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                ProgressSink& progress, PhotoReport* report) {
    CWaitCursor wait;
    if (box.cx < 1 || box.cx > 800 || box.cy < 1 || box.cy > 600) return 0;

    PreviewJob job;
    const char* kind = nullptr;
    job.file = devfs::OpenRegularFile(path, &kind);
    if (!job.file) {
        if (report) {
            report->failure = kind ? PhotoReport::Failure::SourceNotRegular : PhotoReport::Failure::SourceUnreadable;
            report->error = errno;
            report->detail = kind ? kind : "";
        }
        return 0;
    }
    job.box = box;
    job.progress = &progress;
    job.preview = &preview;
    job.trap.strict = report && report->strict;

    const Outcome outcome = Decode(job);

    if (report) {
        if (outcome == Outcome::Failed)
            ReportDecoderFailure(job.trap, job.cinfo, *report);
        else
            ReportDamage(job.trap, *report);
        if (outcome == Outcome::Refused) report->failure = PhotoReport::Failure::SourceTooSmall;
    }
    if (job.decoderCreated) jpeg_destroy_decompress(&job.cinfo);
    std::fclose(job.file);

    if (outcome != Outcome::Done) {
        // A refused photograph leaves the buffer as it was; a failed decode
        // must not leave half a preview behind for the caller to show.
        if (outcome == Outcome::Failed) preview.Clear();
        return 0;
    }
    sourceSize = job.sourceSize;
    box = job.previewSize;
    return 1;
}
