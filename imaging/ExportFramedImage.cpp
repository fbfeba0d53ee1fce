// Writes the framed part of a photograph as a new JPEG: the source is decoded
// a second time and the rows inside the frame go straight into the encoder.
//
// Only the part of the source that the frame needs is decoded. Rows above it
// are skipped (the library still reads their entropy-coded data, but spends
// no time on the inverse DCT, upsampling or colour conversion), columns are
// cropped to the frame, and decoding stops after its last row. The pixels
// handed to the encoder are the same as those of a plain full decode: see
// the note on column margins below.
//
// A photograph stored on its side (EXIF Orientation) is written upright. A
// mirrored one streams as above, each row reversed; any other turn needs
// rows the decoder delivers last, so the frame's stored rectangle is decoded
// into memory first and handed to the encoder turned.
//
// The new file is written under a temporary name in the destination folder
// and renamed over the destination only once it is complete and on disk, so
// a failed export neither leaves a damaged file nor destroys an existing one.
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "imaging/ExportThreads.h"
#include "imaging/HevcDecoder.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "imaging/Pipeline.h"
#include "imaging/SourcePhoto.h"
#include "imaging/SplitEncoder.h"
#include "imaging/TempFile.h"
#include "imaging/WhiteBorder.h"
#include "platform/DeviceFs.h"

namespace {

// Smooth chroma upsampling (4:2:0, 4:2:2) treats the edges of a cropped
// column window as the image's edges, so the outermost columns of the window
// come out slightly different from a full decode, and a window of only one
// chroma sample makes the library fall back to plain replication altogether.
// Two extra columns on each side keep the frame's own columns exact; one is
// not enough (a one-pixel frame at the left edge shows it).
constexpr JDIMENSION COLUMN_MARGIN = 2;

// Rows above the frame are skipped in chunks, with the user interface kept
// alive in between. A multiple of every iMCU height, so each chunk but the
// last ends on an iMCU boundary, where skipping is cheapest.
constexpr JDIMENSION SKIP_CHUNK = 256;

// With the encoder on a thread of its own, that thread prepares the second
// half of each batch's rows when the colour conversion keeps no state
// between calls (a matrix profile's): the decoder's thread, which decodes
// as long as the other encodes, would otherwise carry the whole conversion.
// Each row goes through the same arithmetic on either thread.
struct JobPreparer final : RowPreparer {
    const PhotoColour* colour = nullptr;
    const uint8_t* tone = nullptr;
    size_t offset = 0;
    JDIMENSION width = 0;
    void Prepare(RowBatch& batch, int i) const override {
        PrepareRow(*colour, tone, batch.decoded[i] + offset, batch.rows[i], width);
    }
};
constexpr int DECODER_PREPARES = ROWS_PER_BATCH / 2;

struct ExportJob {
    SourcePhoto* source = nullptr;
    FILE* destination = nullptr;  // the temporary file
    CRect crop;    // upright
    CRect stored;  // the same pixels as the decoder delivers them
    Orientation turn;
    // A turned frame's buffer (mapped here, unmapped by the caller) and
    // whether it could not be had.
    void* frameMemory = nullptr;
    size_t frameBytes = 0;
    bool frameRefused = false;
    ProgressSink* progress = nullptr;
    int quality = 95;
    const uint8_t* tone = nullptr;  // null: pixels go out as decoded

    bool strict = false;
    jpeg_compress_struct cinfo{};
    JpegErrorTrap encoderTrap;
    std::jmp_buf jump;
    bool encoderCreated = false;
    bool frameOutside = false;

    const ExportExtras* extras = nullptr;
    const SourceMetadata* metadata = nullptr;  // markers for the new file
    EncoderThread* encoder = nullptr;          // set when a spare core may take the encoder
    SplitEncoder* split = nullptr;             // the same, for a frame held in memory
    WhiteBorder* border = nullptr;             // the whole photograph on a white print
    JobPreparer preparer;
};

// Every decoded row goes through here on its way to the encoder, whichever
// way the photograph is turned: the step from the decoder's pixels to the
// R, G, B the new file holds. decoded may be rgb (three bytes a pixel).
void PrepareRow(const ExportJob& job, const JSAMPLE* decoded, JSAMPLE* rgb, size_t pixels) {
    PrepareRow(job.source->Colour(), job.tone, decoded, rgb, pixels);
}

void MirrorRow(JSAMPLE* rgb, size_t pixels) {
    JSAMPLE* a = rgb;
    JSAMPLE* b = rgb + (pixels - 1) * 3;
    for (; a < b; a += 3, b -= 3) {
        const JSAMPLE r = a[0], g = a[1], u = a[2];
        a[0] = b[0];
        a[1] = b[1];
        a[2] = b[2];
        b[0] = r;
        b[1] = g;
        b[2] = u;
    }
}

// Turns that cannot go row by row.
bool IsBuffered(const Orientation& turn) { return !turn.IsUpright() && turn.Tag() != 2; }

// The frame's stored rectangle, decoded and prepared, that a buffered export
// may hold at most.
constexpr size_t MAX_TURNED_FRAME_BYTES = MAX_DECODER_MEMORY;

// None of the functions below may hold an object with a destructor: a fatal
// library error leaves them through longjmp.

bool StartDecoder(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    SourcePhoto& source = *job.source;
    source.ReturnTo(&job.jump);
    if (!source.Start(job.strict, job.extras->keepProfile)) return false;
    job.turn = source.Facts().turn;
    const CSize storedSize = source.Facts().stored;
    const CSize upright = source.Facts().Upright();

    // The caller keeps the frame inside the photograph; a frame that is not
    // would make the library skip or crop past the end.
    const CRect& c = job.crop;
    job.frameOutside = !(c.left >= 0 && c.top >= 0 && c.left < c.right && c.top < c.bottom &&
                         c.right <= upright.cx && c.bottom <= upright.cy);
    job.stored = job.turn.ToStored(c, storedSize);
    return !job.frameOutside;
}

// The new file's encoding parameters; a second encoder that computes part of
// its work takes the same.
void ConfigureEncoder(const ExportJob& job, jpeg_compress_struct& cinfo, JDIMENSION width, JDIMENSION height) {
    cinfo.image_width = width;
    cinfo.image_height = height;
    if (job.border) {
        cinfo.image_width = job.border->PrintWidth();
        cinfo.image_height = job.border->PrintHeight();
    }
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    if (job.extras->recordDpi > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(std::min(job.extras->recordDpi, 65535));
    }
}

void StartEncoder(ExportJob& job, JDIMENSION width, JDIMENSION height) {
    jpeg_compress_struct& cinfo = job.cinfo;
    cinfo.err = InitErrorTrap(job.encoderTrap, &job.jump);
    jpeg_create_compress(&cinfo);
    job.encoderCreated = true;
    jpeg_stdio_dest(&cinfo, job.destination);
    if (job.border) job.border->Attach(cinfo);
    ConfigureEncoder(job, cinfo, width, height);
    jpeg_start_compress(&cinfo, TRUE);
    if (job.metadata) WriteMetadata(cinfo, *job.metadata);
}

// Crops src's columns to the stored frame and its margins; returns where
// the frame's pixels start in a decoded row, in bytes.
size_t CropColumns(const ExportJob& job, SourcePhoto& src) {
    const JDIMENSION fullWidth = src.RowWidth();
    const auto left = static_cast<JDIMENSION>(job.stored.left);
    const auto right = static_cast<JDIMENSION>(job.stored.right);
    JDIMENSION windowLeft = left > COLUMN_MARGIN ? left - COLUMN_MARGIN : 0;
    JDIMENSION windowWidth = std::min(fullWidth, right + COLUMN_MARGIN) - windowLeft;
    if (windowWidth < fullWidth) src.CropColumns(windowLeft, windowWidth);
    return static_cast<size_t>(left - windowLeft) * src.Components();
}

// Skips the rows above the stored frame, keeping the window alive.
template <typename Report>
bool SkipToFrame(ExportJob& job, Report report) {
    SourcePhoto& src = *job.source;
    const auto top = static_cast<JDIMENSION>(job.stored.top);
    while (src.NextRow() < top) {
        const JDIMENSION chunk = std::min(SKIP_CHUNK, top - src.NextRow());
        if (src.SkipRows(chunk) == 0) return false;
        job.progress->PumpOneMessage();
        report(src.NextRow());
    }
    return true;
}

bool Stream(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    SourcePhoto& src = *job.source;
    jpeg_compress_struct& cinfo = job.cinfo;
    // Upright or mirrored: the stored frame has the upright one's rows.
    const CRect& crop = job.stored;
    const bool mirror = !job.turn.IsUpright();
    const JDIMENSION top = static_cast<JDIMENSION>(crop.top);
    const JDIMENSION bottom = static_cast<JDIMENSION>(crop.bottom);
    const JDIMENSION outWidth = static_cast<JDIMENSION>(crop.Width());

    StartEncoder(job, outWidth, bottom - top);
    const size_t offset = CropColumns(job, src);

    const int components = src.Components();
    // Rows go to the encoder a batch at a time: decoder and encoder each work
    // on their own rows for a while instead of evicting each other's state
    // from the cache after every row.
    JSAMPARRAY decoded =
        src.Rows(src.RowWidth() * components, ROWS_PER_BATCH);
    JSAMPARRAY converted = nullptr;
    if (job.source->Layout() != SourceColour::Rgb || mirror)
        converted = src.Rows(outWidth * 3, ROWS_PER_BATCH);
    if (job.border)
        job.border->Lend(converted ? converted : decoded, ROWS_PER_BATCH,
                         converted ? outWidth * 3 : size_t(src.RowWidth()) * components);
    RowBatch own;
    for (int i = 0; i < ROWS_PER_BATCH; ++i) {
        own.decoded[i] = decoded[i];
        own.rows[i] = converted ? converted[i] : decoded[i] + offset;
    }
    const size_t rowBytes = static_cast<size_t>(outWidth) * 3;
    EncoderThread* encoder = job.encoder;

    // Decoding stops after the frame's last row, so the rows worked through
    // are those down to it: counted over the whole height the line would
    // stop short of the end.
    ProgressSink& progress = *job.progress;
    int lastPercent = 0;
    progress.DrawProgress(0);
    auto report = [&](JDIMENSION rowsDone) {
        const int percent = static_cast<int>(static_cast<uint64_t>(rowsDone) * 100 / bottom);
        if (percent != lastPercent) {
            progress.DrawProgress(percent);
            lastPercent = percent;
        }
    };

    if (!SkipToFrame(job, report)) return false;

    // With a spare core the batches go to the encoder's own thread; the
    // rows and their order stay the same.
    // A mirrored row is reversed once prepared, which only this thread does.
    const bool share = job.source->Colour().Shaper() != nullptr && !mirror;
    job.preparer.colour = &job.source->Colour();
    job.preparer.tone = job.tone;
    job.preparer.offset = offset;
    job.preparer.width = outWidth;
    int pending = 0;
    RowBatch* batch = &own;
    for (JDIMENSION y = top; y < bottom; ++y) {
        if (pending == 0 && encoder && encoder->Running() && !(batch = encoder->Free())) return false;
        JSAMPROW row = batch->decoded[pending];
        src.ReadRow(row);
        JSAMPROW rgb = batch->rows[pending];
        if (batch == &own || !share || pending < DECODER_PREPARES) {
            PrepareRow(job, row + offset, rgb, outWidth);
            if (mirror) MirrorRow(rgb, outWidth);
        }
        if (++pending == ROWS_PER_BATCH || y + 1 == bottom) {
            if (batch != &own) {
                batch->count = pending;
                batch->prepared = share ? std::min(pending, DECODER_PREPARES) : pending;
                encoder->Push(batch);
            } else {
                WriteRows(&cinfo, batch->rows, pending);
                if (encoder && y + 1 < bottom)
                    encoder->Start(*job.extras->cores, cinfo, job.encoderTrap, src.RowWidth() * components,
                                   converted ? rowBytes : 0, offset, &job.preparer);
            }
            pending = 0;
        }
        progress.PumpOneMessage();
        report(y + 1);
    }
    if (encoder && !encoder->Drain()) return false;

    // Nothing below the frame is needed. Stopping here also keeps junk after
    // the image data, which jpeg_finish_decompress would find fatal, from
    // failing an export whose every row is already encoded.
    src.StopReading();
    jpeg_finish_compress(&cinfo);
    return true;
}

// A transposed frame is kept in tiles of TILE x TILE upright pixels, tile
// rows one after the other: a decoder writes each tile's part of its rows
// in one piece, and the encoder's rows are read from whole tiles, where a
// plain buffer of either orientation has one side visit a different row,
// and cache line, for every pixel.
constexpr int TILE = 16;
constexpr size_t TILE_BYTES = TILE * TILE * 3;

// Where one decoder's rows land to be prepared. Three bytes a pixel come out
// of the decoder straight into their place, margins and all, and are
// prepared where they lie; four (CMYK) go through a row of their own. A
// transposed frame's rows land in a batch of their own first, a tile column
// at most, which then goes into its tiles.
struct Landing {
    JSAMPROW decoded = nullptr;  // four-byte pixels' row; else null
    JSAMPARRAY stage = nullptr;  // transposed: TILE rows; else null
    size_t stageOffset = 0;      // of the frame's first pixel in a stage row, bytes
};

Landing MakeLanding(const ExportJob& job, SourcePhoto& src, size_t cropOffset) {
    Landing landing;
    const bool direct = src.Layout() == SourceColour::Rgb;
    if (!direct) landing.decoded = src.Rows(src.RowWidth() * src.Components(), 1)[0];
    if (job.turn.Transposed()) {
        const auto storedWidth = static_cast<JDIMENSION>(job.stored.Width());
        landing.stage = src.Rows((direct ? src.RowWidth() * 3 : storedWidth * 3) + 1, TILE);
        landing.stageOffset = direct ? cropOffset : 0;
    }
    return landing;
}

// The frame in memory. A turn that only mirrors keeps one buffer row per
// stored row, the pixels of a mirrored one reversed while decoding, so that
// the encoder's rows lie in the buffer as they are. A transposed one is
// turned upright while decoding, into tiles.
struct FrameBuffer {
    JSAMPARRAY rows = nullptr;  // not transposed
    size_t offset = 0;          // of the frame's first pixel in a row, bytes
    JSAMPLE* tiles = nullptr;   // transposed
    size_t tilesAcross = 0;     // in a tile row
    Landing own;                // the export's own decoder's
};

// Mapped with large pages where the system has them: a transposed frame's
// tiles are written all across the buffer, a tile row in each, and with
// small pages each would also miss the TLB; faulting 72 MiB in (24 MP)
// costs less in 2 MiB pieces too.
bool MapFrame(ExportJob& job, size_t cropOffset, FrameBuffer& frame) {
    SourcePhoto& src = *job.source;
    const auto storedWidth = static_cast<JDIMENSION>(job.stored.Width());
    const auto storedHeight = static_cast<JDIMENSION>(job.stored.Height());
    const bool direct = job.source->Layout() == SourceColour::Rgb;
    const bool transposed = job.turn.Transposed();
    frame.offset = direct ? cropOffset : 0;
    const JDIMENSION rowBytes = direct ? src.RowWidth() * 3 : storedWidth * 3;
    frame.tilesAcross = (storedHeight + TILE - 1) / TILE;
    const size_t tilesDown = (storedWidth + TILE - 1) / TILE;
    job.frameBytes = transposed ? frame.tilesAcross * tilesDown * TILE_BYTES : static_cast<size_t>(rowBytes) * storedHeight;
    void* memory = mmap(nullptr, job.frameBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        job.frameRefused = true;
        return false;
    }
    job.frameMemory = memory;
#ifdef MADV_HUGEPAGE
    madvise(memory, job.frameBytes, MADV_HUGEPAGE);
#endif
    frame.own = MakeLanding(job, src, cropOffset);
    if (transposed) {
        frame.tiles = static_cast<JSAMPLE*>(memory);
        return true;
    }
    frame.rows = static_cast<JSAMPARRAY>(src.Memory(static_cast<size_t>(storedHeight) * sizeof(JSAMPROW)));
    for (JDIMENSION y = 0; y < storedHeight; ++y)
        frame.rows[y] = static_cast<JSAMPLE*>(memory) + static_cast<size_t>(y) * rowBytes;
    return true;
}

// The export's progress line: decoding takes the first half, handing out
// rows the rest.
struct HalfProgress {
    ProgressSink* sink = nullptr;
    int last = 0;
    void Report(uint64_t done, uint64_t total, int from) {
        const int percent = from + static_cast<int>(done * 50 / total);
        if (percent != last) {
            sink->DrawProgress(percent);
            last = percent;
        }
    }
};

// A transposed frame: each stored column is an upright row, each stored row
// an upright column, either counted from the far end when that axis is
// mirrored.
int32_t UprightColumn(const ExportJob& job, int32_t storedRow) {
    return job.turn.MirrorY() ? job.stored.Height() - 1 - storedRow : storedRow;
}

// The count prepared stored rows of a landing's batch, from stored row
// first of the frame on, into their tiles: upright columns of one tile
// column, so that each stored column's pixels go into one tile row.
void TileColumns(const ExportJob& job, const FrameBuffer& frame, const Landing& landing, int32_t first, int count) {
    const int32_t storedWidth = job.stored.Width();
    const bool downMirrored = job.turn.MirrorX();
    const int32_t x = UprightColumn(job, first);
    const size_t across = static_cast<size_t>(x / TILE);
    const size_t at = static_cast<size_t>(x % TILE) * 3;
    // The pixels of a tile row go in from left to right, each as four bytes
    // whose last the next pixel overwrites, but the last pixel: the stage's
    // rows have a byte to spare at their end, a tile row may not.
    const JSAMPLE* from[TILE];
    const bool leftward = job.turn.MirrorY();
    for (int i = 0; i < count; ++i) from[leftward ? count - 1 - i : i] = landing.stage[i] + landing.stageOffset;
    const size_t start = leftward ? at - static_cast<size_t>(count - 1) * 3 : at;
    for (int32_t c = 0; c < storedWidth; ++c) {
        const auto y = static_cast<size_t>(downMirrored ? storedWidth - 1 - c : c);
        JSAMPLE* to = frame.tiles + ((y / TILE) * frame.tilesAcross + across) * TILE_BYTES + (y % TILE) * TILE * 3 + start;
        const size_t pixel = static_cast<size_t>(c) * 3;
        for (int i = 0; i + 1 < count; ++i, to += 3) std::memcpy(to, from[i] + pixel, 4);
        std::memcpy(to, from[count - 1] + pixel, 3);
    }
}

// Decodes and prepares src's stored rows from its next one up to end into
// the buffer, in their upright places; after each row, rowDone(the next
// row).
template <typename RowDone>
void DecodeRows(const ExportJob& job, SourcePhoto& src, const FrameBuffer& frame, const Landing& landing,
                size_t cropOffset, JDIMENSION end, RowDone rowDone) {
    const auto storedWidth = static_cast<JDIMENSION>(job.stored.Width());
    const auto top = static_cast<JDIMENSION>(job.stored.top);
    const bool reversed = !job.turn.Transposed() && job.turn.MirrorX();
    int staged = 0;
    int32_t stagedFrom = 0;
    while (src.NextRow() < end) {
        const auto stored = static_cast<int32_t>(src.NextRow() - top);
        if (staged == 0) stagedFrom = stored;
        JSAMPLE* const at = landing.stage ? landing.stage[staged] : frame.rows[stored];
        JSAMPROW row = landing.decoded ? landing.decoded : at;
        src.ReadRow(row);
        JSAMPLE* pixels = at + (landing.stage ? landing.stageOffset : frame.offset);
        PrepareRow(src.Colour(), job.tone, row + cropOffset, pixels, storedWidth);
        if (reversed) MirrorRow(pixels, storedWidth);
        if (landing.stage) {
            ++staged;
            // The batch ends with its tile column, or with the rows to decode.
            const int32_t x = UprightColumn(job, stored);
            const bool lastOfTile = job.turn.MirrorY() ? x % TILE == 0 : x % TILE == TILE - 1;
            if (lastOfTile || src.NextRow() == end) {
                TileColumns(job, frame, landing, stagedFrom, staged);
                staged = 0;
            }
        }
        rowDone(src.NextRow());
    }
}

// The export's own decoder: skips to the frame (when it is not there yet)
// and decodes up to end. False when it failed.
bool DecodeOwnRows(ExportJob& job, size_t cropOffset, const FrameBuffer& frame, JDIMENSION end,
                   HalfProgress& line, JDIMENSION reportedEnd) {
    if (setjmp(job.jump)) return false;
    auto report = [&](JDIMENSION rows) {
        job.progress->PumpOneMessage();
        if (reportedEnd) line.Report(std::min(rows, reportedEnd), reportedEnd, 0);
    };
    if (!SkipToFrame(job, report)) return false;
    DecodeRows(job, *job.source, frame, frame.own, cropOffset, end, report);
    return true;
}

// A second decoder of the same file, on a spare core, decoding the stored
// frame's lower rows while the export's own decoder decodes the upper ones.
// A decoder must read through every row above the ones it decodes (without
// restart markers there is no starting halfway), but reading through costs
// only a part of decoding, so the work still splits in two. Its rows are
// kept only when it met no damage at all; otherwise the export's own decoder
// decodes them again, and a damaged photograph comes out, and is reported,
// as with one decoder.
struct LowerBand {
    SourcePhoto photo;
    std::jmp_buf jump;
    JDIMENSION from = 0;
    bool clean = false;
};

// Holds nothing with a destructor: a fatal library error leaves it through
// longjmp.
bool DecodeLowerBand(const ExportJob& job, LowerBand& band, const FrameBuffer& frame) {
    SourcePhoto& src = band.photo;
    if (setjmp(band.jump)) return false;
    src.ReturnTo(&band.jump);
    if (!src.Start(job.strict, job.extras->keepProfile)) return false;
    const size_t cropOffset = CropColumns(job, src);
    while (src.NextRow() < band.from)
        if (src.SkipRows(band.from - src.NextRow()) == 0) return false;
    const Landing landing = MakeLanding(job, src, cropOffset);
    DecodeRows(job, src, frame, landing, cropOffset, static_cast<JDIMENSION>(job.stored.bottom), [](JDIMENSION) {});
    src.StopReading();
    return !src.Damaged();
}

// Of the cost of decoding a row, the part a decoder pays to read through it
// undecoded (entropy decoding only): about half on a 24 MP photograph at
// quality 90 (djpeg -skip against a full decode).
constexpr double READ_THROUGH_SHARE = 0.5;

// Where the lower band starts so that both decoders finish together: an
// iMCU boundary (cheapest to start at), or 0 when the frame is too short to
// be worth a second decoder.
JDIMENSION LowerBandStart(const CRect& stored) {
    constexpr int32_t SHORTEST = 4 * SKIP_CHUNK;
    if (stored.Height() < SHORTEST) return 0;
    const double h = READ_THROUGH_SHARE;
    const double even = (stored.bottom + stored.top * (1 - h)) / (2 - h);
    const auto from = static_cast<JDIMENSION>(even) / 16 * 16;
    if (from <= static_cast<JDIMENSION>(stored.top) + SKIP_CHUNK) return 0;
    return from;
}

// Decodes and prepares the stored frame into the buffer; with a spare core,
// two decoders share the work.
bool DecodeFrame(ExportJob& job, size_t cropOffset, const FrameBuffer& frame, HalfProgress& line) {
    const auto bottom = static_cast<JDIMENSION>(job.stored.bottom);
    SpareCores* cores = job.extras->cores;
    JDIMENSION from = LowerBandStart(job.stored);
    // A file of several scans holds all its coefficients in the decoder's
    // memory: a second decoder would hold them twice.
    LowerBand band;
    if (!cores || from == 0 || job.source->MultiScan() || !band.photo.OpenSame(*job.source) || !cores->Claim())
        return DecodeOwnRows(job, cropOffset, frame, bottom, line, bottom);
    band.from = from;
    // The second decoder writes into the buffer: it has ended before this
    // returns, however this returns.
    struct Joined {
        std::thread thread;
        SpareCores* cores;
        ~Joined() {
            if (thread.joinable()) thread.join();
            cores->Release();
        }
    };
    bool upper = false;
    {
        Joined lower{std::thread(), cores};
        try {
            lower.thread = std::thread([&] { band.clean = DecodeLowerBand(job, band, frame); });
        } catch (const std::system_error&) {
            band.clean = false;
            from = bottom;  // every row this thread's
        }
        upper = DecodeOwnRows(job, cropOffset, frame, from, line, from);
    }
    if (!upper) return false;
    return band.clean || DecodeOwnRows(job, cropOffset, frame, bottom, line, 0);
}

// The frame's upright rows y0 .. y0 + count - 1 into rows, or rows pointed
// at them where they lie as they are. y0 is a multiple of ROWS_PER_BATCH.
void FillUprightRows(const ExportJob& job, const FrameBuffer& frame, JDIMENSION y0, int count, JSAMPROW* rows) {
    if (frame.tiles) {
        static_assert(ROWS_PER_BATCH % TILE == 0);
        const auto width = static_cast<size_t>(job.crop.Width());
        for (int j = 0; j < count; ++j) {
            const size_t y = y0 + static_cast<size_t>(j);
            const JSAMPLE* tile = frame.tiles + (y / TILE) * frame.tilesAcross * TILE_BYTES + (y % TILE) * TILE * 3;
            size_t x = 0;
            for (; x + TILE <= width; x += TILE, tile += TILE_BYTES) std::memcpy(rows[j] + x * 3, tile, TILE * 3);
            if (x < width) std::memcpy(rows[j] + x * 3, tile, (width - x) * 3);
        }
        return;
    }
    const auto first = static_cast<int32_t>(y0);
    // A buffer row per stored row: upright row y is stored row y, counted
    // from the far end when the turn mirrors it.
    const bool downMirrored = !job.turn.Transposed() && job.turn.MirrorY();
    const int32_t last = job.stored.Height() - 1;
    for (int j = 0; j < count; ++j) rows[j] = frame.rows[downMirrored ? last - first - j : first + j] + frame.offset;
}

// Hands the frame's upright rows to the encoder a batch at a time; the
// encoder's thread, when it gets one, encodes a batch while this one
// fills the next.
bool HandOutRows(ExportJob& job, const FrameBuffer& frame, HalfProgress& line) {
    SourcePhoto& src = *job.source;
    jpeg_compress_struct& cinfo = job.cinfo;
    const auto outWidth = static_cast<JDIMENSION>(job.crop.Width());
    const auto outHeight = static_cast<JDIMENSION>(job.crop.Height());
    JSAMPARRAY ownRows = src.Rows(outWidth * 3, ROWS_PER_BATCH);
    if (job.border) job.border->Lend(ownRows, ROWS_PER_BATCH, size_t(outWidth) * 3);
    RowBatch own;
    for (int i = 0; i < ROWS_PER_BATCH; ++i) own.decoded[i] = own.rows[i] = ownRows[i];
    EncoderThread* encoder = job.encoder;
    RowBatch* batch = &own;
    for (JDIMENSION y0 = 0; y0 < outHeight; y0 += ROWS_PER_BATCH) {
        const int count = static_cast<int>(std::min<JDIMENSION>(ROWS_PER_BATCH, outHeight - y0));
        if (encoder && encoder->Running() && !(batch = encoder->Free())) return false;
        FillUprightRows(job, frame, y0, count, batch->rows);
        if (batch != &own) {
            batch->count = count;
            encoder->Push(batch);
        } else {
            WriteRows(&cinfo, batch->rows, static_cast<JDIMENSION>(count));
            if (encoder && y0 + ROWS_PER_BATCH < outHeight)
                encoder->Start(*job.extras->cores, cinfo, job.encoderTrap, static_cast<size_t>(outWidth) * 3, 0, 0);
        }
        job.progress->PumpOneMessage();
        line.Report(y0 + static_cast<JDIMENSION>(count), outHeight, 50);
    }
    return !encoder || encoder->Drain();
}

// The encoder started and the buffer mapped for a turned frame.
bool BeginTurned(ExportJob& job, size_t& cropOffset, FrameBuffer& frame) {
    if (setjmp(job.jump)) return false;
    StartEncoder(job, static_cast<JDIMENSION>(job.crop.Width()), static_cast<JDIMENSION>(job.crop.Height()));
    cropOffset = CropColumns(job, *job.source);
    return MapFrame(job, cropOffset, frame);
}

// With a spare core, the frame's encoding is split: the other thread
// computes the DCT blocks (see SplitEncoder), this one entropy-codes them.
// Not for a white border, whose rows the encoder writes itself.
bool StartSplit(ExportJob& job, const FrameBuffer& frame) {
    if (!job.split || job.border || !job.extras->cores) return false;
    const auto width = static_cast<JDIMENSION>(job.crop.Width());
    const auto height = static_cast<JDIMENSION>(job.crop.Height());
    const ExportJob& j = job;
    return job.split->Start(
        *job.extras->cores, job.cinfo,
        [&j, width, height](jpeg_compress_struct& c) { ConfigureEncoder(j, c, width, height); },
        static_cast<size_t>(width) * 3,
        [&j, &frame](JDIMENSION first, int count, JSAMPROW* rows) { FillUprightRows(j, frame, first, count, rows); });
}

// The blocks the split's thread computes entropy-coded into the file in
// their order, the rows it needs asked for ahead. Entropy coding alone
// takes this thread about as long as the other's share.
bool CodeBlocks(ExportJob& job, HalfProgress& line) {
    SplitEncoder& split = *job.split;
    jpeg_compress_struct& cinfo = job.cinfo;
    // The frame and scan headers go out with the first rows, after the
    // metadata: with no rows ever written, they go out now.
    jpeg_write_scanlines(&cinfo, nullptr, 0);
    const JDIMENSION height = cinfo.image_height;
    const JDIMENSION rowsPerBlockRow = split.RowsPerBatch();
    JDIMENSION handed = 0;
    for (JDIMENSION r = 0; r < cinfo.total_iMCU_rows; ++r) {
        // Two iMCU rows ahead of the blocks coded here.
        while (handed < height && handed < (r + 2) * rowsPerBlockRow) {
            const JDIMENSION count = std::min(rowsPerBlockRow, height - handed);
            if (!split.Ask(handed, count)) return false;
            handed += count;
        }
        const SplitEncoder::BlockRow* row = split.Next();
        if (!row) return false;
        SplitEncoder::Code(cinfo, *row);
        split.Done(row);
        job.progress->PumpOneMessage();
        line.Report(std::min(height, (r + 1) * rowsPerBlockRow), height, 50);
    }
    // Every row is in the file, though none went through this encoder.
    cinfo.next_scanline = height;
    return split.Finish();
}

bool FinishTurned(ExportJob& job, const FrameBuffer& frame, HalfProgress& line) {
    const bool split = StartSplit(job, frame);
    if (setjmp(job.jump)) return false;
    if (!(split ? CodeBlocks(job, line) : HandOutRows(job, frame, line))) return false;
    // Nothing below the frame is needed; see Stream.
    job.source->StopReading();
    jpeg_finish_compress(&job.cinfo);
    return true;
}

// Any turn but a mirror: the stored frame is decoded and prepared into one
// buffer, then its upright rows go to the encoder a batch at a time.
bool StreamTurned(ExportJob& job) {
    size_t cropOffset = 0;
    FrameBuffer frame;
    if (!BeginTurned(job, cropOffset, frame)) return false;
    HalfProgress line;
    line.sink = job.progress;
    job.progress->DrawProgress(0);
    return DecodeFrame(job, cropOffset, frame, line) && FinishTurned(job, frame, line);
}

// A profile kept metadata would have carried, left out because the pixels
// were converted from it: said, since the photograph's look now rests on it.
std::string ConvertedProfileText(const std::vector<JOCTET>& icc) {
    const std::string name = ProfileDescription(icc);
    return "its colour profile" + (name.empty() ? std::string() : " (" + name + ")") +
           " is left out: the new file's pixels were converted from it to sRGB";
}

// What goes into the new file besides its pixels: what the caller asked to
// keep, made to agree with the new file. Converted pixels are sRGB, which
// needs no profile, and the source's would lie about them.
void ChooseMetadata(ExportJob& job, SourceMetadata& metadata, PhotoReport& result) {
    const ExportExtras& extras = *job.extras;
    const PhotoColour& colour = job.source->Colour();
    if (extras.keepProfile || extras.keepMetadata) {
        std::vector<std::string> dropped;
        WrittenImage image;  // three components, whatever the source had
        image.width = job.border ? job.border->PrintWidth() : static_cast<uint32_t>(job.crop.Width());
        image.height = job.border ? job.border->PrintHeight() : static_cast<uint32_t>(job.crop.Height());
        image.dpi = extras.recordDpi;
        image.srgb = job.source->ConvertsToSrgb();
        image.otherProfile = colour.Use() == ProfileUse::Kept;
        KeepSourceMetadata(job.source->Facts(), extras.keepProfile, extras.keepMetadata, image, metadata, dropped);
        if (extras.warnings) extras.warnings->insert(extras.warnings->end(), dropped.begin(), dropped.end());
    }
    result.profileProblem = job.source->ProfileProblem();
    // A profile of another colour space than the new file's RGB was left
    // out above.
    if (colour.Use() == ProfileUse::Convert && !metadata.icc.empty()) {
        if (extras.warnings) extras.warnings->push_back(ConvertedProfileText(metadata.icc));
        metadata.icc.clear();
    }
    if (!metadata.Empty()) job.metadata = &metadata;
}

// libheif decodes a HEIF photograph whole before its first row, while the
// encoder has nothing to do: the cores spare then are the decoder's, and
// free again for the encoder once it is done.
class CoresForWholeDecode {
public:
    explicit CoresForWholeDecode(SpareCores* cores) : m_cores(cores) {
        while (m_cores && m_lent < MAX_LENT && m_cores->Claim()) ++m_lent;
    }
    ~CoresForWholeDecode() {
        for (; m_lent > 0; --m_lent) m_cores->Release();
    }
    CoresForWholeDecode(const CoresForWholeDecode&) = delete;
    CoresForWholeDecode& operator=(const CoresForWholeDecode&) = delete;
    int Cores() const { return 1 + m_lent; }

private:
    static constexpr int MAX_LENT = MAX_HEVC_THREADS - 1;
    SpareCores* m_cores;
    int m_lent = 0;
};

bool StartDecoderOnCores(ExportJob& job) {
    if (!job.source->IsHeif() || !job.extras->cores) return StartDecoder(job);
    const CoresForWholeDecode lent(job.extras->cores);
    job.source->SetHeifDecodingCores(lent.Cores());
    return StartDecoder(job);
}

// The decoder started, the frame inside the photograph and small enough to
// turn: false with result saying why not.
bool Prepare(ExportJob& job, PhotoReport& result) {
    using Failure = PhotoReport::Failure;
    if (!StartDecoderOnCores(job)) {
        if (job.frameOutside)
            result.failure = Failure::FrameOutside;
        else
            job.source->ReportFailure(result);
        return false;
    }
    if (IsBuffered(job.turn) &&
        static_cast<uint64_t>(job.stored.Width()) * static_cast<uint64_t>(job.stored.Height()) * 3 >
            MAX_TURNED_FRAME_BYTES) {
        // Turning a frame this large would hold more than the decoder may.
        result.failure = Failure::SourceTooLarge;
        result.detail = "the turned frame needs more than 1 GiB of memory";
        return false;
    }
    return true;
}

// Streams the frame into the open temporary file; false with result saying
// why not.
bool Write(ExportJob& job, EncoderThread& encoder, PhotoReport& result) {
    using Failure = PhotoReport::Failure;
    const bool ok = IsBuffered(job.turn) ? StreamTurned(job) : Stream(job);
    // After a failure: the other threads must be idle before they are destroyed.
    encoder.Abandon();
    if (job.split) job.split->Abandon();
    if (job.frameMemory) munmap(job.frameMemory, job.frameBytes);
    if (ok) {
        job.source->ReportDamage(result);
    } else if (job.frameRefused) {
        result.failure = Failure::SourceTooLarge;
        result.detail = "not enough memory to turn the frame";
    } else if (job.source->Failed()) {
        job.source->ReportFailure(result);
    } else {
        // Only writing can fail the encoder here; its errno says why.
        result.failure = Failure::Destination;
        result.error = job.encoderTrap.failed && job.encoderTrap.savedErrno ? job.encoderTrap.savedErrno : EIO;
    }
    return ok;
}

}  // namespace

int ExportFrame(SourcePhoto& source, const std::wstring& destinationPath, const CRect& crop, ProgressSink& progress,
                const uint8_t* tone, int quality, const ExportExtras& extras, PhotoReport& result) {
    using Failure = PhotoReport::Failure;
    ExportJob job;
    job.source = &source;
    job.tone = tone;
    job.crop = crop;
    job.progress = &progress;
    job.quality = quality;
    job.strict = result.strict;
    job.extras = &extras;
    EncoderThread encoder;
    SplitEncoder split;
    if (extras.cores) {
        job.encoder = &encoder;
        job.split = &split;
    }

    bool ok = Prepare(job, result);
    result.damagedOrientation = source.Facts().damagedOrientation;
    // Prepared before anything is written: a print no JPEG can hold is
    // refused with a reason instead of failing halfway.
    WhiteBorder border;
    if (ok && !extras.whiteMargins.Empty()) {
        if (border.Prepare(extras.whiteMargins, static_cast<JDIMENSION>(crop.Width()),
                           static_cast<JDIMENSION>(crop.Height()))) {
            job.border = &border;
        } else {
            ok = false;
            result.failure = Failure::PrintTooLarge;
        }
    }
    SourceMetadata metadata;
    if (ok) ChooseMetadata(job, metadata, result);
    TempFile output;
    if (ok) {
        ok = output.Create(devfs::ToHostPath(destinationPath));
        job.destination = output.Stream();
        if (!ok) {
            result.failure = Failure::Destination;
            result.error = output.Error();
        }
    }
    if (ok) ok = Write(job, encoder, result);
    if (job.encoderCreated) jpeg_destroy_compress(&job.cinfo);

    if (ok && !output.Commit()) {
        result.failure = Failure::Destination;
        result.error = output.Error();
        ok = false;
    }
    output.Discard();
    if (!output.LeftBehind().empty() && extras.warnings) extras.warnings->push_back(LeftBehindText(output));
    return ok ? 1 : 0;
}

int ExportFramedImageWith(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                          ProgressSink& progress, const uint8_t* tone, int quality, const ExportExtras& extras,
                          PhotoReport* report) {
    PhotoReport ignored;
    PhotoReport& result = report ? *report : ignored;
    SourcePhoto source;
    if (!source.Open(sourcePath, result)) return 0;
    return ExportFrame(source, destinationPath, crop, progress, tone, quality, extras, result);
}
