// Decodes a photograph once, row by row, and averages it down into the
// preview while it goes: the full picture is never in memory.
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "imaging/ColourProfile.h"
#include "imaging/JpegSource.h"
#include "imaging/Orientation.h"
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
    PhotoColour colour;

    // Per-column sums of the band being gathered (16 or 32 bits each).
    // Adding rows into these as they arrive gives the same integer sums as
    // keeping the band's rows and adding them up at the end, with far less
    // memory traffic; rows are added a few at a time for the same reason.
    ByteBuffer columnSums;
    ByteBuffer windows;
    ByteBuffer reciprocals;
    // A turned photograph's runs of stored rows and columns (StoredRun).
    ByteBuffer groups;
    ByteBuffer segments;
    bool damagedOrientation = false;

    // Filled on success.
    CSize sourceSize;
    CSize previewSize;
};

enum class Outcome { Done, Refused, Failed };

constexpr size_t READ_BUFFER_SIZE = 64 * 1024;

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

// A band's average without a division per pixel. With sums of at most
// 255 * n and 255 * n * n below 2^48, (sum * m) >> 48 for m = 2^48 / n + 1
// is exactly sum / n: the excess over the true quotient, sum * (m - 2^48 / n)
// / 2^48, stays below 1 / n and so never reaches the next integer.
constexpr int RECIPROCAL_SHIFT = 48;

uint64_t Reciprocal(uint64_t n) { return ((uint64_t{1} << RECIPROCAL_SHIFT) / n) + 1; }

// Preview row from the column sums of a band of at most 257 rows.
void AverageNarrowBand(const uint16_t* sums, const int32_t* windows, const uint64_t* reciprocals, int32_t pw,
                       uint8_t* out) {
    for (int32_t x = 0; x < pw; ++x) {
        uint32_t r = 0, g = 0, b = 0;
        for (int32_t k = windows[x]; k < windows[x + 1]; ++k) {
            r += sums[k * 3 + 0];
            g += sums[k * 3 + 1];
            b += sums[k * 3 + 2];
        }
        const uint64_t m = reciprocals[x];
        out[x * 3 + 0] = static_cast<uint8_t>((r * m) >> RECIPROCAL_SHIFT);
        out[x * 3 + 1] = static_cast<uint8_t>((g * m) >> RECIPROCAL_SHIFT);
        out[x * 3 + 2] = static_cast<uint8_t>((b * m) >> RECIPROCAL_SHIFT);
    }
}

// The same for the bands of a photograph hundreds of times as wide as its
// preview, whose sums need more than 32 bits.
void AverageWideBand(const uint32_t* sums, const int32_t* windows, int32_t pw, int32_t rowsPerBand, uint8_t* out) {
    for (int32_t x = 0; x < pw; ++x) {
        const int32_t x0 = windows[x], x1 = windows[x + 1];
        uint64_t sum[3] = {0, 0, 0};
        for (int32_t k = x0; k < x1; ++k) {
            sum[0] += sums[k * 3 + 0];
            sum[1] += sums[k * 3 + 1];
            sum[2] += sums[k * 3 + 2];
        }
        const uint64_t n = static_cast<uint64_t>(x1 - x0) * static_cast<uint64_t>(rowsPerBand);
        for (int ch = 0; ch < 3; ++ch) {
            const uint64_t v = n ? sum[ch] / n : 0;
            out[x * 3 + ch] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
}

// A turned photograph. Its preview must be, byte for byte, what the code
// below computes for a photograph whose decoded pixels were the upright
// ones, without holding the picture: the upright bands and column windows
// are worked out as there, and each becomes a run of stored rows or stored
// columns. Rows of one run are added into column sums as they arrive; when
// the run is complete, the column sums of each run of columns make one
// preview pixel (an upright band and window cover the same pixels whichever
// way round they are stored).
struct StoredRun {
    int32_t first = 0, end = 0;  // stored rows or columns, end exclusive
    int32_t index = 0;           // preview row or column it makes
};

template <typename Sum>
void FinishGroup(const Sum* sums, const StoredRun& group, const StoredRun* segments, int32_t segmentCount,
                 bool transposed, int32_t pw, const int32_t* windows, int32_t rowsPerBand,
                 const uint64_t* reciprocals, uint8_t* preview) {
    for (int32_t s = 0; s < segmentCount; ++s) {
        const StoredRun& seg = segments[s];
        // 16-bit sums come from runs of at most 257 rows, and a run of
        // columns is at most 258 wide: 32 bits hold their total.
        using Total = std::conditional_t<sizeof(Sum) == 2, uint32_t, uint64_t>;
        Total total[3] = {0, 0, 0};
        for (int32_t k = seg.first; k < seg.end; ++k) {
            total[0] += sums[k * 3 + 0];
            total[1] += sums[k * 3 + 1];
            total[2] += sums[k * 3 + 2];
        }
        const int32_t x = transposed ? group.index : seg.index;
        const int32_t y = transposed ? seg.index : group.index;
        uint8_t* out = preview + (static_cast<size_t>(y) * pw + x) * 3;
        const uint64_t m = reciprocals[x];
        const uint64_t n = static_cast<uint64_t>(windows[x + 1] - windows[x]) * static_cast<uint64_t>(rowsPerBand);
        for (int ch = 0; ch < 3; ++ch) {
            // The reciprocal is exact while 255 * n * n stays below 2^48.
            const uint64_t v = m ? (uint64_t{total[ch]} * m) >> RECIPROCAL_SHIFT : (n ? total[ch] / n : 0);
            out[ch] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
}

// Runs ordered as the stored rows or columns come; a mirrored axis reverses
// them.
void PlaceRun(StoredRun* runs, int32_t count, int32_t i, bool mirrored, int32_t size, int32_t first, int32_t end) {
    StoredRun& r = runs[mirrored ? count - 1 - i : i];
    r.first = mirrored ? size - end : first;
    r.end = mirrored ? size - first : end;
    r.index = i;
}

// Called from Decode, under its jump target; holds nothing with a destructor.
// The preview's size within the box and how much of the picture W x H each
// of its pixels averages: step source pixels across, rowsPerBand rows down.
// Worked out on the upright size, whichever way the picture is stored.
struct PreviewGrid {
    int32_t pw = 0, ph = 0;
    float step = 0.0f;
    int32_t rowsPerBand = 0;
};

// False for a box far flatter than any preview area, which truncates the
// preview to nothing.
bool FitPreview(CSize box, int32_t W, int32_t H, PreviewGrid& g) {
    g.pw = box.cx;
    g.ph = box.cx * H / W;
    if (g.ph > box.cy) {
        g.ph = box.cy;
        g.pw = box.cy * W / H;
    }
    if (g.pw < 1 || g.ph < 1) return false;
    g.step = 1.0f / (static_cast<float>(g.pw) / static_cast<float>(W));
    g.rowsPerBand = static_cast<int32_t>(std::floor(static_cast<double>(g.step)));
    return true;
}

// Preview column x averages picture columns windows[x] .. windows[x+1]-1;
// columns right of the last window are never looked at.
int32_t* FillWindows(ByteBuffer& buffer, const PreviewGrid& g, int32_t W) {
    buffer.Resize((static_cast<size_t>(g.pw) + 1) * sizeof(int32_t));
    auto* windows = reinterpret_cast<int32_t*>(buffer.Data());
    for (int32_t x = 0; x <= g.pw; ++x) {
        const int32_t bound = static_cast<int32_t>(static_cast<float>(x) * g.step);
        windows[x] = bound < W ? bound : W;
    }
    return windows;
}

Outcome DecodeTurned(PreviewJob& job, Orientation turn, SourceColour colour, int rowsFrom) {
    jpeg_decompress_struct& cinfo = job.cinfo;
    const int32_t SW = static_cast<int32_t>(cinfo.output_width);
    const int32_t SH = static_cast<int32_t>(cinfo.output_height);
    const CSize upright = turn.UprightSize(CSize(SW, SH));
    const int32_t W = upright.cx;
    const int32_t H = upright.cy;

    PreviewGrid grid;
    if (!FitPreview(job.box, W, H, grid) || grid.rowsPerBand < 1) return Outcome::Failed;
    const int32_t pw = grid.pw, ph = grid.ph, rowsPerBand = grid.rowsPerBand;
    const float step = grid.step;

    PreviewBuffer& preview = *job.preview;
    preview.Resize(0);
    preview.Resize(static_cast<size_t>(pw) * ph * 3);

    const int32_t* windows = FillWindows(job.windows, grid, W);
    int32_t widestWindow = 0;
    for (int32_t x = 1; x <= pw; ++x)
        if (windows[x] - windows[x - 1] > widestWindow) widestWindow = windows[x] - windows[x - 1];
    job.reciprocals.Resize(static_cast<size_t>(pw) * sizeof(uint64_t));
    auto* reciprocals = reinterpret_cast<uint64_t*>(job.reciprocals.Data());
    for (int32_t x = 0; x < pw; ++x) {
        const uint64_t n = static_cast<uint64_t>(windows[x + 1] - windows[x]) * rowsPerBand;
        reciprocals[x] = n && n <= (uint64_t{1} << 20) ? Reciprocal(n) : 0;
    }

    // Upright bands: each starts where the running sum of steps says, or
    // right after the one before; only complete bands are shown.
    int32_t bands = 0;
    {
        float acc = 0.0f;
        int32_t start = 0;
        while (bands < ph && start + rowsPerBand <= H) {
            ++bands;
            acc += step;
            const int32_t next = static_cast<int32_t>(acc);
            start = next > start + rowsPerBand ? next : start + rowsPerBand;
        }
    }
    const bool transposed = turn.Transposed();
    const int32_t groupCount = transposed ? pw : bands;
    const int32_t segmentCount = transposed ? bands : pw;
    job.groups.Resize(static_cast<size_t>(groupCount) * sizeof(StoredRun));
    job.segments.Resize(static_cast<size_t>(segmentCount) * sizeof(StoredRun));
    auto* groups = reinterpret_cast<StoredRun*>(job.groups.Data());
    auto* segments = reinterpret_cast<StoredRun*>(job.segments.Data());
    StoredRun* bandRuns = transposed ? segments : groups;
    StoredRun* windowRuns = transposed ? groups : segments;
    {
        // Bands run along the upright height: stored rows, or stored columns
        // when transposed; windows the other way.
        const bool bandsMirrored = transposed ? turn.MirrorX() : turn.MirrorY();
        const bool windowsMirrored = transposed ? turn.MirrorY() : turn.MirrorX();
        float acc = 0.0f;
        int32_t start = 0;
        for (int32_t k = 0; k < bands; ++k) {
            PlaceRun(bandRuns, bands, k, bandsMirrored, H, start, start + rowsPerBand);
            acc += step;
            const int32_t next = static_cast<int32_t>(acc);
            start = next > start + rowsPerBand ? next : start + rowsPerBand;
        }
        for (int32_t x = 0; x < pw; ++x) PlaceRun(windowRuns, pw, x, windowsMirrored, W, windows[x], windows[x + 1]);
    }
    int32_t colLo = SW, colHi = 0;
    for (int32_t s = 0; s < segmentCount; ++s) {
        if (segments[s].first < segments[s].end) {
            colLo = segments[s].first < colLo ? segments[s].first : colLo;
            colHi = segments[s].end > colHi ? segments[s].end : colHi;
        }
    }
    if (colLo >= colHi) colLo = colHi = 0;

    const int32_t longestGroup = transposed ? widestWindow : rowsPerBand;
    const bool narrowSums = longestGroup <= 257;
    const size_t sumSize = narrowSums ? sizeof(uint16_t) : sizeof(uint32_t);
    job.columnSums.Resize(static_cast<size_t>(SW) * 3 * sumSize);
    auto* sums16 = reinterpret_cast<uint16_t*>(job.columnSums.Data());
    auto* sums32 = reinterpret_cast<uint32_t*>(job.columnSums.Data());
    const size_t usedFrom = static_cast<size_t>(colLo) * 3;
    const size_t usedBytes = static_cast<size_t>(colHi - colLo) * 3;

    const int components = cinfo.output_components;
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&cinfo);
    JSAMPARRAY decoded = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, SW * components, ROWS_PER_ADD);
    JSAMPARRAY rgb = decoded;
    if (colour != SourceColour::Rgb) rgb = (*cinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, SW * 3, ROWS_PER_ADD);
    JSAMPROW from[ROWS_PER_ADD];
    int pending = 0;
    auto addPending = [&] {
        for (int i = 0; i < pending; ++i) from[i] = rgb[i] + usedFrom;
        if (narrowSums)
            AddRows(sums16 + usedFrom, from, pending, usedBytes);
        else
            AddRows(sums32 + usedFrom, from, pending, usedBytes);
        pending = 0;
    };

    int& lastPercent = job.lastPercent;
    for (int32_t g = 0; g < groupCount; ++g) {
        const StoredRun& group = groups[g];
        if (group.first >= group.end) continue;
        const auto at = static_cast<JDIMENSION>(group.first);
        if (cinfo.output_scanline < at) jpeg_skip_scanlines(&cinfo, at - cinfo.output_scanline);
        for (int32_t y = group.first; y < group.end; ++y) {
            job.progress->PumpOneMessage();
            const int percent = rowsFrom + static_cast<int>(int64_t(y) * (100 - rowsFrom) / SH);
            if (percent != lastPercent) {
                job.progress->DrawProgress(percent);
                lastPercent = percent;
            }
            JSAMPROW row = decoded[pending];
            jpeg_read_scanlines(&cinfo, &row, 1);
            if (colour != SourceColour::Rgb)
                job.colour.ToSrgb(row + static_cast<size_t>(colLo) * 4, rgb[pending] + usedFrom, colHi - colLo);
            if (++pending == ROWS_PER_ADD) addPending();
        }
        if (pending > 0) addPending();
        if (narrowSums)
            FinishGroup(sums16, group, segments, segmentCount, transposed, pw, windows, rowsPerBand, reciprocals,
                        preview.Data());
        else
            FinishGroup(sums32, group, segments, segmentCount, transposed, pw, windows, rowsPerBand, reciprocals,
                        preview.Data());
        std::memset(job.columnSums.Data() + usedFrom * sumSize, 0, usedBytes * sumSize);
    }
    // The few rows left are read too (skipping to the end would not even
    // look at them), so that damage in them is reported as for an upright
    // photograph.
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = decoded[0];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    if (job.colour.Converts() && job.colour.ThreeBytesIn())
        job.colour.ToSrgb(preview.Data(), preview.Data(), static_cast<size_t>(pw) * ph, true);

    job.sourceSize = upright;
    job.previewSize = CSize(pw, ph);
    return Outcome::Done;
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
    // The size rule above is the stored size's; everything after is upright.
    const OrientationTag tag = ReadOrientationTag(cinfo);
    job.damagedOrientation = tag.damaged;
    job.colour.Prepare(cinfo, colour);
    if (!tag.orientation.IsUpright()) return DecodeTurned(job, tag.orientation, colour, rowsFrom);

    const int32_t W = static_cast<int32_t>(width);
    const int32_t H = static_cast<int32_t>(height);
    PreviewGrid grid;
    if (!FitPreview(job.box, W, H, grid)) return Outcome::Failed;
    const int32_t pw = grid.pw, ph = grid.ph, rowsPerBand = grid.rowsPerBand;
    const float step = grid.step;

    // Rows that never get a complete band stay black, whatever the buffer
    // held before.
    PreviewBuffer& preview = *job.preview;
    preview.Resize(0);
    preview.Resize(static_cast<size_t>(pw) * ph * 3);
    // Sixteen bits hold the sum of up to 257 bytes: every band of a
    // photograph less than 257 times as wide as its preview.
    const bool narrowSums = rowsPerBand <= 257;
    const size_t sumSize = narrowSums ? sizeof(uint16_t) : sizeof(uint32_t);
    job.columnSums.Resize(static_cast<size_t>(W) * 3 * sumSize);
    auto* sums16 = reinterpret_cast<uint16_t*>(job.columnSums.Data());
    auto* sums32 = reinterpret_cast<uint32_t*>(job.columnSums.Data());

    const int32_t* windows = FillWindows(job.windows, grid, W);
    const int32_t usedColumns = windows[pw];
    if (narrowSums) {
        job.reciprocals.Resize(static_cast<size_t>(pw) * sizeof(uint64_t));
        auto* reciprocals = reinterpret_cast<uint64_t*>(job.reciprocals.Data());
        for (int32_t x = 0; x < pw; ++x) {
            const uint64_t n = static_cast<uint64_t>(windows[x + 1] - windows[x]) * rowsPerBand;
            // An empty window averages to black, as a zero sum gives.
            reciprocals[x] = n ? Reciprocal(n) : 0;
        }
    }
    const auto* reciprocals = reinterpret_cast<const uint64_t*>(job.reciprocals.Data());
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

        if (colour != SourceColour::Rgb) job.colour.ToSrgb(row, rgb[pending], usedColumns);
        ++pending;
        ++bandRows;
        if (bandRows < rowsPerBand) {
            if (pending == ROWS_PER_ADD) addPending();
            ++consumed;
            continue;
        }
        addPending();

        uint8_t* out = preview.Data() + static_cast<size_t>(outRow) * pw * 3;
        if (narrowSums)
            AverageNarrowBand(sums16, windows, reciprocals, pw, out);
        else
            AverageWideBand(sums32, windows, pw, rowsPerBand, out);
        std::memset(job.columnSums.Data(), 0, usedBytes * sumSize);

        ++outRow;
        acc += step;
        const int32_t skip = static_cast<int32_t>(acc) - consumed - 1;
        if (skip > 0) {
            // Skipped, the rows between bands cost no colour conversion.
            jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(skip));
            consumed += skip;
        }
        bandRows = 0;
        ++consumed;
    }

    // Averages of three-byte pixels are converted afterwards, a few hundred
    // thousand pixels instead of every decoded one.
    if (job.colour.Converts() && job.colour.ThreeBytesIn())
        job.colour.ToSrgb(preview.Data(), preview.Data(), static_cast<size_t>(pw) * ph, true);

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
    // The library asks for 4 KiB at a time; unbuffered, that is one system
    // call per 4 KiB of the file, which costs more than it seems on a small
    // photograph.
    alignas(64) char readBuffer[READ_BUFFER_SIZE];
    std::setvbuf(job.file, readBuffer, _IOFBF, sizeof readBuffer);
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
        report->damagedOrientation = job.damagedOrientation;
        report->profileProblem = job.colour.Problem();
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
