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
#include "imaging/SourcePhoto.h"

namespace {

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
    SourcePhoto* source = nullptr;
    CSize box;
    ProgressSink* progress = nullptr;
    PreviewBuffer* preview = nullptr;
    bool strict = false;

    std::jmp_buf jump;
    ScanMonitor monitor;
    int lastPercent = -1;
    bool outOfMemory = false;

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

// A run of a turned photograph's stored rows or columns (see DecodeTurned).
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

// Everything below runs under Decode's jump target and holds nothing with a
// destructor.

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

// A working buffer of count Ts; null when memory cannot be had, which ends
// the decoding, not the program.
template <typename T>
T* Take(PreviewJob& job, ByteBuffer& buffer, size_t count) {
    if (!buffer.TryResize(count * sizeof(T))) {
        job.outOfMemory = true;
        return nullptr;
    }
    return reinterpret_cast<T*>(buffer.Data());
}

// The preview's grid for the upright picture W x H, its buffer all black
// (rows that never get a complete band stay black, whatever it held
// before), and its column windows: preview column x averages picture
// columns windows[x] .. windows[x+1]-1; columns right of the last window are
// never looked at. Null when there is no grid or no memory for it.
const int32_t* StartGrid(PreviewJob& job, int32_t W, int32_t H, PreviewGrid& g) {
    if (!FitPreview(job.box, W, H, g)) return nullptr;
    job.preview->Resize(0);
    if (!job.preview->TryResize(static_cast<size_t>(g.pw) * g.ph * 3)) {
        job.outOfMemory = true;
        return nullptr;
    }
    int32_t* windows = Take<int32_t>(job, job.windows, static_cast<size_t>(g.pw) + 1);
    if (!windows) return nullptr;
    for (int32_t x = 0; x <= g.pw; ++x) {
        const int32_t bound = static_cast<int32_t>(static_cast<float>(x) * g.step);
        windows[x] = bound < W ? bound : W;
    }
    return windows;
}

// Decoded rows on their way into the column sums of the stored columns
// from .. from + count - 1 (the only ones any preview pixel looks at).
struct RowGatherer {
    JSAMPARRAY decoded = nullptr;  // as the decoder gives them
    JSAMPARRAY rgb = nullptr;      // three bytes a pixel; decoded itself for RGB rows
    int pending = 0;               // rows read, not yet added
    bool narrow = true;            // 16-bit sums
    size_t sumSize = sizeof(uint16_t);
    uint16_t* sums16 = nullptr;
    uint32_t* sums32 = nullptr;
    int32_t from = 0, count = 0;  // stored columns
};

// Sixteen bits hold the sum of up to 257 bytes.
bool StartGatherer(PreviewJob& job, RowGatherer& g, int32_t longestRun, int32_t from, int32_t end) {
    SourcePhoto& src = *job.source;
    g.narrow = longestRun <= 257;
    g.sumSize = g.narrow ? sizeof(uint16_t) : sizeof(uint32_t);
    uint8_t* sums = Take<uint8_t>(job, job.columnSums, static_cast<size_t>(src.RowWidth()) * 3 * g.sumSize);
    if (!sums) return false;
    g.sums16 = reinterpret_cast<uint16_t*>(sums);
    g.sums32 = reinterpret_cast<uint32_t*>(sums);
    g.from = from;
    g.count = end - from;
    const JDIMENSION width = src.RowWidth();
    g.decoded = src.Rows(width * src.Components(), ROWS_PER_ADD);
    g.rgb = g.decoded;
    if (job.source->Layout() != SourceColour::Rgb)
        g.rgb = src.Rows(width * 3, ROWS_PER_ADD);
    return true;
}

void AddPending(RowGatherer& g) {
    const size_t at = static_cast<size_t>(g.from) * 3;
    JSAMPROW from[ROWS_PER_ADD];
    for (int i = 0; i < g.pending; ++i) from[i] = g.rgb[i] + at;
    if (g.narrow)
        AddRows(g.sums16 + at, from, g.pending, static_cast<size_t>(g.count) * 3);
    else
        AddRows(g.sums32 + at, from, g.pending, static_cast<size_t>(g.count) * 3);
    g.pending = 0;
}

void ClearSums(RowGatherer& g) {
    std::memset(reinterpret_cast<uint8_t*>(g.sums16) + static_cast<size_t>(g.from) * 3 * g.sumSize, 0,
                static_cast<size_t>(g.count) * 3 * g.sumSize);
}

// Reads the next row; gathered, it goes into the sums (a few at a time).
void ReadRow(PreviewJob& job, RowGatherer& g, bool gathered) {
    SourcePhoto& src = *job.source;
    JSAMPROW row = g.decoded[g.pending];
    src.ReadRow(row);
    if (!gathered) return;
    // Only decoded pixels of another kind than R, G, B are converted here;
    // rows skipped between bands cost no conversion.
    if (job.source->Layout() != SourceColour::Rgb)
        job.source->Colour().ToSrgb(row + static_cast<size_t>(g.from) * 4, g.rgb[g.pending] + g.from * 3, g.count);
    if (++g.pending == ROWS_PER_ADD) AddPending(g);
}

// Keeps the window alive and the progress line moving, once a row.
void Tick(PreviewJob& job, int64_t done, int64_t total, int rowsFrom) {
    job.progress->PumpOneMessage();
    const int percent = rowsFrom + static_cast<int>(done * (100 - rowsFrom) / total);
    if (percent != job.lastPercent) {
        job.progress->DrawProgress(percent);
        job.lastPercent = percent;
    }
}

// Averages of three-byte pixels are converted afterwards, a few hundred
// thousand pixels instead of every decoded one.
void FinishColours(PreviewJob& job, const PreviewGrid& g) {
    const PhotoColour& colour = job.source->Colour();
    if (colour.Converts() && colour.ThreeBytesIn())
        colour.ToSrgb(job.preview->Data(), job.preview->Data(), static_cast<size_t>(g.pw) * g.ph, true);
}

// Where each band of an upright picture H rows high starts: where the
// running sum of steps says, or right after the one before. Calls
// band(k, start) for every complete band; returns how many there are.
template <typename Band>
int32_t ForEachBand(const PreviewGrid& g, int32_t H, Band band) {
    int32_t bands = 0;
    float acc = 0.0f;
    int32_t start = 0;
    while (bands < g.ph && start + g.rowsPerBand <= H) {
        band(bands, start);
        ++bands;
        acc += g.step;
        const int32_t next = static_cast<int32_t>(acc);
        start = next > start + g.rowsPerBand ? next : start + g.rowsPerBand;
    }
    return bands;
}

// A turned photograph's plan: the upright bands and column windows as runs
// of stored rows (groups, read one after the other) and of stored columns
// (segments, one preview pixel each within a group), or the other way round
// when the turn transposes. Also the stored columns any run looks at.
struct TurnedPlan {
    const StoredRun* groups = nullptr;
    const StoredRun* segments = nullptr;
    int32_t groupCount = 0, segmentCount = 0;
    int32_t colLo = 0, colHi = 0;
    int32_t longestGroup = 0;
};

bool PlanTurnedRuns(PreviewJob& job, const Orientation& turn, const PreviewGrid& g, const int32_t* windows,
                    int32_t W, int32_t H, int32_t storedWidth, TurnedPlan& plan) {
    const int32_t bands = ForEachBand(g, H, [](int32_t, int32_t) {});
    const bool transposed = turn.Transposed();
    plan.groupCount = transposed ? g.pw : bands;
    plan.segmentCount = transposed ? bands : g.pw;
    auto* groups = Take<StoredRun>(job, job.groups, static_cast<size_t>(plan.groupCount));
    auto* segments = Take<StoredRun>(job, job.segments, static_cast<size_t>(plan.segmentCount));
    if (!groups || !segments) return false;
    // Bands run along the upright height: stored rows, or stored columns
    // when transposed; windows the other way.
    StoredRun* bandRuns = transposed ? segments : groups;
    StoredRun* windowRuns = transposed ? groups : segments;
    const bool bandsMirrored = transposed ? turn.MirrorX() : turn.MirrorY();
    const bool windowsMirrored = transposed ? turn.MirrorY() : turn.MirrorX();
    ForEachBand(g, H, [&](int32_t k, int32_t start) {
        PlaceRun(bandRuns, bands, k, bandsMirrored, H, start, start + g.rowsPerBand);
    });
    int32_t widestWindow = 0;
    for (int32_t x = 0; x < g.pw; ++x) {
        PlaceRun(windowRuns, g.pw, x, windowsMirrored, W, windows[x], windows[x + 1]);
        if (windows[x + 1] - windows[x] > widestWindow) widestWindow = windows[x + 1] - windows[x];
    }
    plan.colLo = storedWidth;
    plan.colHi = 0;
    for (int32_t s = 0; s < plan.segmentCount; ++s) {
        if (segments[s].first < segments[s].end) {
            plan.colLo = segments[s].first < plan.colLo ? segments[s].first : plan.colLo;
            plan.colHi = segments[s].end > plan.colHi ? segments[s].end : plan.colHi;
        }
    }
    if (plan.colLo >= plan.colHi) plan.colLo = plan.colHi = 0;
    plan.groups = groups;
    plan.segments = segments;
    plan.longestGroup = transposed ? widestWindow : g.rowsPerBand;
    return true;
}

// A turned photograph. Its preview must be, byte for byte, what the code
// for an upright one computes for a photograph whose decoded pixels were
// the upright ones, without holding the picture: each upright band and
// window becomes a run of stored rows or stored columns. Rows of one run
// are added into column sums as they arrive; when the run is complete, the
// column sums of each run of columns make one preview pixel (an upright
// band and window cover the same pixels whichever way round they are
// stored).
Outcome DecodeTurned(PreviewJob& job, const Orientation& turn, int rowsFrom) {
    SourcePhoto& src = *job.source;
    const CSize stored(static_cast<int32_t>(src.RowWidth()), static_cast<int32_t>(src.Height()));
    const CSize upright = turn.UprightSize(stored);
    PreviewGrid grid;
    const int32_t* windows = StartGrid(job, upright.cx, upright.cy, grid);
    if (!windows || grid.rowsPerBand < 1) return Outcome::Failed;
    auto* reciprocals = Take<uint64_t>(job, job.reciprocals, static_cast<size_t>(grid.pw));
    if (!reciprocals) return Outcome::Failed;
    for (int32_t x = 0; x < grid.pw; ++x) {
        const uint64_t n = static_cast<uint64_t>(windows[x + 1] - windows[x]) * grid.rowsPerBand;
        reciprocals[x] = n && n <= (uint64_t{1} << 20) ? Reciprocal(n) : 0;
    }
    TurnedPlan plan;
    RowGatherer g;
    if (!PlanTurnedRuns(job, turn, grid, windows, upright.cx, upright.cy, stored.cx, plan) ||
        !StartGatherer(job, g, plan.longestGroup, plan.colLo, plan.colHi))
        return Outcome::Failed;

    const bool transposed = turn.Transposed();
    for (int32_t k = 0; k < plan.groupCount; ++k) {
        const StoredRun& group = plan.groups[k];
        if (group.first >= group.end) continue;
        const auto at = static_cast<JDIMENSION>(group.first);
        if (src.NextRow() < at) src.SkipRows(at - src.NextRow());
        for (int32_t y = group.first; y < group.end; ++y) {
            Tick(job, y, stored.cy, rowsFrom);
            ReadRow(job, g, true);
        }
        if (g.pending > 0) AddPending(g);
        if (g.narrow)
            FinishGroup(g.sums16, group, plan.segments, plan.segmentCount, transposed, grid.pw, windows,
                        grid.rowsPerBand, reciprocals, job.preview->Data());
        else
            FinishGroup(g.sums32, group, plan.segments, plan.segmentCount, transposed, grid.pw, windows,
                        grid.rowsPerBand, reciprocals, job.preview->Data());
        ClearSums(g);
    }
    // The few rows left are read too (skipping to the end would not even
    // look at them), so that damage in them is reported as for an upright
    // photograph.
    g.pending = 0;
    while (src.NextRow() < src.Height()) ReadRow(job, g, false);
    FinishColours(job, grid);
    job.sourceSize = upright;
    job.previewSize = CSize(grid.pw, grid.ph);
    return Outcome::Done;
}

// An upright photograph, row by row: each band's rows are added into the
// column sums, the full band becomes a preview row, and the rows up to the
// next band are skipped.
Outcome DecodeUpright(PreviewJob& job, int rowsFrom) {
    SourcePhoto& src = *job.source;
    const int32_t W = static_cast<int32_t>(src.RowWidth());
    const int32_t H = static_cast<int32_t>(src.Height());
    PreviewGrid grid;
    const int32_t* windows = StartGrid(job, W, H, grid);
    RowGatherer g;
    if (!windows || !StartGatherer(job, g, grid.rowsPerBand, 0, windows[grid.pw])) return Outcome::Failed;
    if (g.narrow) {
        auto* reciprocals = Take<uint64_t>(job, job.reciprocals, static_cast<size_t>(grid.pw));
        if (!reciprocals) return Outcome::Failed;
        for (int32_t x = 0; x < grid.pw; ++x) {
            const uint64_t n = static_cast<uint64_t>(windows[x + 1] - windows[x]) * grid.rowsPerBand;
            // An empty window averages to black, as a zero sum gives.
            reciprocals[x] = n ? Reciprocal(n) : 0;
        }
    }
    const auto* reciprocals = reinterpret_cast<const uint64_t*>(job.reciprocals.Data());

    int32_t consumed = 0;  // source rows accounted for
    int32_t bandRows = 0;
    int32_t outRow = 0;
    float acc = 0.0f;
    while (src.NextRow() < src.Height()) {
        Tick(job, consumed, H, rowsFrom);
        ReadRow(job, g, outRow < grid.ph);
        if (outRow >= grid.ph) continue;
        if (++bandRows < grid.rowsPerBand) {
            ++consumed;
            continue;
        }
        if (g.pending > 0) AddPending(g);
        uint8_t* out = job.preview->Data() + static_cast<size_t>(outRow) * grid.pw * 3;
        if (g.narrow)
            AverageNarrowBand(g.sums16, windows, reciprocals, grid.pw, out);
        else
            AverageWideBand(g.sums32, windows, grid.pw, grid.rowsPerBand, out);
        ClearSums(g);

        ++outRow;
        acc += grid.step;
        const int32_t skip = static_cast<int32_t>(acc) - consumed - 1;
        if (skip > 0) {
            src.SkipRows(static_cast<JDIMENSION>(skip));
            consumed += skip;
        }
        bandRows = 0;
        ++consumed;
    }
    FinishColours(job, grid);
    // Every row has been read. What may still follow in the file is at most
    // trailing markers or junk; jpeg_finish_decompress would turn some junk
    // into a fatal error and cost the user a picture that decoded fine, so
    // the decoder is simply released.
    job.sourceSize = CSize(W, H);
    job.previewSize = CSize(grid.pw, grid.ph);
    return Outcome::Done;
}

// No object with a destructor may live in this function's frame: a fatal
// library error leaves it through longjmp.
Outcome Decode(PreviewJob& job) {
    if (setjmp(job.jump)) return Outcome::Failed;
    SourcePhoto& source = *job.source;
    source.ReturnTo(&job.jump);
    job.monitor.pub.progress_monitor = OnScanProgress;
    job.monitor.progress = job.progress;
    job.monitor.lastPercent = &job.lastPercent;
    if (!source.Start(job.strict, false, &job.monitor.pub)) return Outcome::Failed;
    // From here on the rows report progress themselves.
    const int rowsFrom = source.MultiScan() ? SCAN_READING_PERCENT : 0;
    // The size rule is the stored size's; everything after is upright.
    if (source.Facts().TooSmall()) return Outcome::Refused;
    const Orientation& turn = source.Facts().turn;
    return turn.IsUpright() ? DecodeUpright(job, rowsFrom) : DecodeTurned(job, turn, rowsFrom);
}

}  // namespace

int DecodePreview(SourcePhoto& source, CSize& box, CSize& sourceSize, PreviewBuffer& preview, ProgressSink& progress,
                  PhotoReport& report) {
    if (box.cx < 1 || box.cx > 800 || box.cy < 1 || box.cy > 600) return 0;
    PreviewJob job;
    job.source = &source;
    job.box = box;
    job.progress = &progress;
    job.preview = &preview;
    job.strict = report.strict;

    const Outcome outcome = Decode(job);

    if (outcome == Outcome::Failed && job.outOfMemory)
        report.failure = PhotoReport::Failure::OutOfMemory;
    else if (outcome == Outcome::Failed)
        source.ReportFailure(report);
    else
        source.ReportDamage(report);
    report.damagedOrientation = source.Facts().damagedOrientation;
    report.profileProblem = source.ProfileProblem();
    if (outcome == Outcome::Refused) report.failure = PhotoReport::Failure::SourceTooSmall;

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

int DecodePreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                  ProgressSink& progress, PhotoReport& report) {
    if (box.cx < 1 || box.cx > 800 || box.cy < 1 || box.cy > 600) return 0;
    SourcePhoto source;
    if (!source.Open(path, report)) return 0;
    return DecodePreview(source, box, sourceSize, preview, progress, report);
}

namespace {

bool StartForSizeRule(SourcePhoto& source, std::jmp_buf& jump, bool strict) {
    if (setjmp(jump)) return false;
    source.ReturnTo(&jump);
    return source.Start(strict, false);
}

}  // namespace

int CheckSizeRule(SourcePhoto& source, PhotoReport& report) {
    if (!source.Facts().TooSmall()) return 1;
    // A small photograph is refused for its size only once its decoder has
    // started, as a preview would refuse it: one that cannot be decoded
    // says so instead.
    std::jmp_buf jump;
    if (!StartForSizeRule(source, jump, report.strict)) {
        source.ReportFailure(report);
        return 0;
    }
    source.ReportDamage(report);
    report.failure = PhotoReport::Failure::SourceTooSmall;
    return 0;
}
