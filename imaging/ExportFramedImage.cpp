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
#include <vector>

#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "imaging/ExportThreads.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "imaging/Pipeline.h"
#include "imaging/TempFile.h"
#include "imaging/WhiteBorder.h"
#include "platform/DeviceFs.h"
#include "platform/WaitCursor.h"
#include "tone/ToneCurve.h"

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
    FILE* source = nullptr;
    FILE* destination = nullptr;  // the temporary file
    CRect crop;    // upright
    CRect stored;  // the same pixels as the decoder delivers them
    Orientation turn;
    bool damagedOrientation = false;
    // A turned frame's buffer (mapped here, unmapped by the caller) and
    // whether it could not be had.
    void* frameMemory = nullptr;
    size_t frameBytes = 0;
    bool frameRefused = false;
    ProgressSink* progress = nullptr;
    int quality = 95;
    const uint8_t* tone = nullptr;  // null: pixels go out as decoded

    jpeg_decompress_struct dinfo{};
    jpeg_compress_struct cinfo{};
    JpegErrorTrap decoderTrap;
    JpegErrorTrap encoderTrap;
    std::jmp_buf jump;
    bool decoderCreated = false;
    bool encoderCreated = false;
    bool frameOutside = false;
    SourceColour colour = SourceColour::Rgb;
    PhotoColour photoColour;

    const ExportExtras* extras = nullptr;
    const SourceMetadata* metadata = nullptr;  // markers for the new file
    EncoderThread* encoder = nullptr;          // set when a spare core may take the encoder
    WhiteBorder* border = nullptr;             // the whole photograph on a white print
    JobPreparer preparer;
};

// Every decoded row goes through here on its way to the encoder, whichever
// way the photograph is turned: the step from the decoder's pixels to the
// R, G, B the new file holds. decoded may be rgb (three bytes a pixel).
void PrepareRow(const ExportJob& job, const JSAMPLE* decoded, JSAMPLE* rgb, size_t pixels) {
    PrepareRow(job.photoColour, job.tone, decoded, rgb, pixels);
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
    jpeg_decompress_struct& dinfo = job.dinfo;
    if (!StartRgbDecoder(dinfo, job.decoderTrap, &job.jump, job.source, job.decoderCreated, job.colour)) return false;
    job.photoColour.Prepare(dinfo, job.colour, job.extras->keepProfile);

    const OrientationTag tag = ReadOrientationTag(dinfo);
    job.turn = tag.orientation;
    job.damagedOrientation = tag.damaged;
    const CSize storedSize(static_cast<int32_t>(dinfo.output_width), static_cast<int32_t>(dinfo.output_height));
    const CSize upright = job.turn.UprightSize(storedSize);

    // The caller keeps the frame inside the photograph; a frame that is not
    // would make the library skip or crop past the end.
    const CRect& c = job.crop;
    job.frameOutside = !(c.left >= 0 && c.top >= 0 && c.left < c.right && c.top < c.bottom &&
                         c.right <= upright.cx && c.bottom <= upright.cy);
    job.stored = job.turn.ToStored(c, storedSize);
    return !job.frameOutside;
}

void StartEncoder(ExportJob& job, JDIMENSION width, JDIMENSION height) {
    jpeg_compress_struct& cinfo = job.cinfo;
    cinfo.err = InitErrorTrap(job.encoderTrap, &job.jump);
    jpeg_create_compress(&cinfo);
    job.encoderCreated = true;
    jpeg_stdio_dest(&cinfo, job.destination);
    cinfo.image_width = width;
    cinfo.image_height = height;
    if (job.border) {
        cinfo.image_width = job.border->PrintWidth();
        cinfo.image_height = job.border->PrintHeight();
        job.border->Attach(cinfo);
    }
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, job.quality, TRUE);
    if (job.extras->recordDpi > 0) {
        cinfo.density_unit = 1;
        cinfo.X_density = cinfo.Y_density = static_cast<UINT16>(std::min(job.extras->recordDpi, 65535));
    }
    jpeg_start_compress(&cinfo, TRUE);
    if (job.metadata) WriteMetadata(cinfo, *job.metadata);
}

// Crops the decoder's columns to the stored frame and its margins; returns
// where the frame's pixels start in a decoded row, in bytes.
size_t CropColumns(ExportJob& job) {
    jpeg_decompress_struct& dinfo = job.dinfo;
    const JDIMENSION fullWidth = dinfo.output_width;
    const auto left = static_cast<JDIMENSION>(job.stored.left);
    const auto right = static_cast<JDIMENSION>(job.stored.right);
    JDIMENSION windowLeft = left > COLUMN_MARGIN ? left - COLUMN_MARGIN : 0;
    JDIMENSION windowWidth = std::min(fullWidth, right + COLUMN_MARGIN) - windowLeft;
    if (windowWidth < fullWidth) jpeg_crop_scanline(&dinfo, &windowLeft, &windowWidth);
    return static_cast<size_t>(left - windowLeft) * dinfo.output_components;
}

// Skips the rows above the stored frame, keeping the window alive.
template <typename Report>
bool SkipToFrame(ExportJob& job, Report report) {
    jpeg_decompress_struct& dinfo = job.dinfo;
    const auto top = static_cast<JDIMENSION>(job.stored.top);
    while (dinfo.output_scanline < top) {
        const JDIMENSION chunk = std::min(SKIP_CHUNK, top - dinfo.output_scanline);
        if (jpeg_skip_scanlines(&dinfo, chunk) == 0) return false;
        job.progress->PumpOneMessage();
        report(dinfo.output_scanline);
    }
    return true;
}

bool Stream(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    jpeg_decompress_struct& dinfo = job.dinfo;
    jpeg_compress_struct& cinfo = job.cinfo;
    // Upright or mirrored: the stored frame has the upright one's rows.
    const CRect& crop = job.stored;
    const bool mirror = !job.turn.IsUpright();
    const JDIMENSION top = static_cast<JDIMENSION>(crop.top);
    const JDIMENSION bottom = static_cast<JDIMENSION>(crop.bottom);
    const JDIMENSION outWidth = static_cast<JDIMENSION>(crop.Width());

    StartEncoder(job, outWidth, bottom - top);
    const size_t offset = CropColumns(job);

    const int components = dinfo.output_components;
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&dinfo);
    // Rows go to the encoder a batch at a time: decoder and encoder each work
    // on their own rows for a while instead of evicting each other's state
    // from the cache after every row.
    JSAMPARRAY decoded =
        (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, dinfo.output_width * components, ROWS_PER_BATCH);
    JSAMPARRAY converted = nullptr;
    if (job.colour != SourceColour::Rgb || mirror)
        converted = (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, outWidth * 3, ROWS_PER_BATCH);
    if (job.border)
        job.border->Lend(converted ? converted : decoded, ROWS_PER_BATCH,
                         converted ? outWidth * 3 : size_t(dinfo.output_width) * components);
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
    const bool share = job.photoColour.Shaper() != nullptr && !mirror;
    job.preparer.colour = &job.photoColour;
    job.preparer.tone = job.tone;
    job.preparer.offset = offset;
    job.preparer.width = outWidth;
    int pending = 0;
    RowBatch* batch = &own;
    for (JDIMENSION y = top; y < bottom; ++y) {
        if (pending == 0 && encoder && encoder->Running() && !(batch = encoder->Free())) return false;
        JSAMPROW row = batch->decoded[pending];
        jpeg_read_scanlines(&dinfo, &row, 1);
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
                    encoder->Start(*job.extras->cores, cinfo, job.encoderTrap, dinfo.output_width * components,
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
    jpeg_abort_decompress(&dinfo);
    jpeg_finish_compress(&cinfo);
    return true;
}

// Any turn but a mirror: the stored frame is decoded and prepared into one
// buffer, then its upright rows go to the encoder a batch at a time. The
// encoder's thread, when it gets one, encodes a batch while this one gathers
// the next.
bool StreamTurned(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    jpeg_decompress_struct& dinfo = job.dinfo;
    jpeg_compress_struct& cinfo = job.cinfo;
    const CRect& stored = job.stored;
    const Orientation turn = job.turn;
    const auto storedWidth = static_cast<JDIMENSION>(stored.Width());
    const auto storedHeight = static_cast<JDIMENSION>(stored.Height());
    const auto outWidth = static_cast<JDIMENSION>(job.crop.Width());
    const auto outHeight = static_cast<JDIMENSION>(job.crop.Height());
    const auto bottom = static_cast<JDIMENSION>(stored.bottom);

    StartEncoder(job, outWidth, outHeight);
    const size_t offset = CropColumns(job);
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&dinfo);
    // Three bytes a pixel come out of the decoder straight into the buffer,
    // margins and all, and are prepared where they lie; four (CMYK) go
    // through a row of their own.
    const bool direct = job.colour == SourceColour::Rgb;
    const size_t frameOffset = direct ? offset : 0;
    const JDIMENSION frameRowBytes = direct ? dinfo.output_width * 3 : storedWidth * 3;
    // Mapped with large pages where the system has them: the gathering below
    // visits a different buffer row for every pixel, and with small pages
    // each visit would also miss the TLB; faulting 72 MiB in (24 MP) costs
    // less in 2 MiB pieces too.
    job.frameBytes = static_cast<size_t>(frameRowBytes) * storedHeight;
    void* memory = mmap(nullptr, job.frameBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        job.frameRefused = true;
        return false;
    }
    job.frameMemory = memory;
#ifdef MADV_HUGEPAGE
    madvise(memory, job.frameBytes, MADV_HUGEPAGE);
#endif
    auto frame = static_cast<JSAMPARRAY>(
        (*dinfo.mem->alloc_small)(common, JPOOL_IMAGE, static_cast<size_t>(storedHeight) * sizeof(JSAMPROW)));
    for (JDIMENSION y = 0; y < storedHeight; ++y)
        frame[y] = static_cast<JSAMPLE*>(memory) + static_cast<size_t>(y) * frameRowBytes;
    JSAMPARRAY decoded =
        direct ? nullptr
               : (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, dinfo.output_width * dinfo.output_components, 1);
    JSAMPARRAY ownRows = (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, outWidth * 3, ROWS_PER_BATCH);
    if (job.border) job.border->Lend(ownRows, ROWS_PER_BATCH, size_t(outWidth) * 3);

    // Decoding takes the first half of the line, handing out rows the rest.
    ProgressSink& progress = *job.progress;
    int lastPercent = 0;
    progress.DrawProgress(0);
    auto report = [&](uint64_t done, uint64_t total, int from) {
        const int percent = from + static_cast<int>(done * 50 / total);
        if (percent != lastPercent) {
            progress.DrawProgress(percent);
            lastPercent = percent;
        }
    };
    if (!SkipToFrame(job, [&](JDIMENSION rows) { report(rows, bottom, 0); })) return false;
    // Rows reversed here need no second look when they go out.
    const bool mirrorRows = !turn.Transposed() && turn.MirrorX();
    for (JDIMENSION y = 0; y < storedHeight; ++y) {
        JSAMPROW row = direct ? frame[y] : decoded[0];
        jpeg_read_scanlines(&dinfo, &row, 1);
        JSAMPLE* pixels = frame[y] + frameOffset;
        PrepareRow(job, row + offset, pixels, storedWidth);
        if (mirrorRows) MirrorRow(pixels, storedWidth);
        progress.PumpOneMessage();
        report(static_cast<uint64_t>(stored.top) + y + 1, bottom, 0);
    }

    const size_t rowBytes = static_cast<size_t>(outWidth) * 3;
    RowBatch own;
    for (int i = 0; i < ROWS_PER_BATCH; ++i) own.decoded[i] = own.rows[i] = ownRows[i];
    EncoderThread* encoder = job.encoder;
    RowBatch* batch = &own;
    // Upright row y is stored row (or, transposed, stored column) y counted
    // from the far end when that axis is mirrored.
    const bool transposed = turn.Transposed();
    const bool acrossMirrored = transposed ? turn.MirrorY() : false;
    const bool downMirrored = transposed ? turn.MirrorX() : turn.MirrorY();
    const int32_t downSize = static_cast<int32_t>(transposed ? storedWidth : storedHeight);
    for (JDIMENSION y0 = 0; y0 < outHeight; y0 += ROWS_PER_BATCH) {
        const int count = static_cast<int>(std::min<JDIMENSION>(ROWS_PER_BATCH, outHeight - y0));
        if (encoder && encoder->Running() && !(batch = encoder->Free())) return false;
        const int32_t first = downMirrored ? downSize - 1 - static_cast<int32_t>(y0) : static_cast<int32_t>(y0);
        const int32_t direction = downMirrored ? -1 : 1;
        if (transposed) {
            // Each upright row is a stored column: a batch of them is
            // gathered in one pass over the buffer's rows.
            // Every buffer row is a cache miss of its own: the rows a few
            // pixels ahead are fetched while this one is copied.
            const ptrdiff_t step = static_cast<ptrdiff_t>(direction) * 3;
            const ptrdiff_t lowest = std::min<ptrdiff_t>(0, step * (count - 1));
            const size_t from = frameOffset + static_cast<size_t>(first) * 3;
            JSAMPLE* outs[ROWS_PER_BATCH];
            for (int j = 0; j < count; ++j) outs[j] = batch->rows[j];
            constexpr JDIMENSION AHEAD = 12;
            for (JDIMENSION x = 0; x < outWidth; ++x) {
                if (x + AHEAD < outWidth) {
                    const JDIMENSION ahead = acrossMirrored ? storedHeight - 1 - (x + AHEAD) : x + AHEAD;
                    const JSAMPLE* p = frame[ahead] + from + lowest;
                    __builtin_prefetch(p);
                    __builtin_prefetch(p + 3 * ROWS_PER_BATCH - 1);
                }
                const JDIMENSION sy = acrossMirrored ? storedHeight - 1 - x : x;
                const JSAMPLE* src = frame[sy] + from;
                const size_t at = static_cast<size_t>(x) * 3;
                for (int j = 0; j < count; ++j, src += step) {
                    JSAMPLE* out = outs[j] + at;
                    out[0] = src[0];
                    out[1] = src[1];
                    out[2] = src[2];
                }
            }
        } else {
            // Rows go out as they lie in the buffer.
            for (int j = 0; j < count; ++j) batch->rows[j] = frame[first + direction * j] + frameOffset;
        }
        if (batch != &own) {
            batch->count = count;
            encoder->Push(batch);
        } else {
            WriteRows(&cinfo, batch->rows, static_cast<JDIMENSION>(count));
            if (encoder && y0 + ROWS_PER_BATCH < outHeight)
                encoder->Start(*job.extras->cores, cinfo, job.encoderTrap, rowBytes, 0, 0);
        }
        progress.PumpOneMessage();
        report(y0 + static_cast<JDIMENSION>(count), outHeight, 50);
    }
    if (encoder && !encoder->Drain()) return false;
    // Nothing below the frame is needed; see Stream.
    jpeg_abort_decompress(&dinfo);
    jpeg_finish_compress(&cinfo);
    return true;
}

// A profile kept metadata would have carried, left out because the pixels
// were converted from it: said, since the photograph's look now rests on it.
std::string ConvertedProfileText(const std::vector<JOCTET>& icc) {
    const std::string name = ProfileDescription(icc);
    return "its colour profile" + (name.empty() ? std::string() : " (" + name + ")") +
           " is left out: the new file's pixels were converted from it to sRGB";
}

}  // namespace

int ExportFramedImage(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                      ProgressSink& progress, ToneCurve& curve, int quality, PhotoReport* report) {
    return ExportFramedImageWith(sourcePath, destinationPath, crop, progress, curve, quality, ExportExtras(), report);
}

int ExportFramedImageWith(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                          ProgressSink& progress, ToneCurve& curve, int quality, const ExportExtras& extras,
                          PhotoReport* report) {
    CWaitCursor wait;
    curve.UpdateLut();
    uint8_t tone[256];
    ExportJob job;
    if (curve.m_nPoints > 2) {
        for (int v = 0; v < 256; ++v) tone[v] = static_cast<uint8_t>(curve.m_lut[v]);
        job.tone = tone;
    }
    job.crop = crop;
    job.progress = &progress;
    job.quality = quality;
    job.decoderTrap.strict = report && report->strict;
    PhotoReport ignored;
    PhotoReport& result = report ? *report : ignored;
    using Failure = PhotoReport::Failure;
    job.extras = &extras;
    EncoderThread encoder;
    if (extras.cores) job.encoder = &encoder;

    // The decoder reads 4 KiB at a time, one system call each with stdio's
    // own buffer; a larger one makes reading a small part of an export. It
    // outlives the stream.
    constexpr size_t IO_BUFFER_SIZE = 64 * 1024;
    std::vector<char> sourceBuffer(IO_BUFFER_SIZE);

    const char* kind = nullptr;
    job.source = devfs::OpenRegularFile(sourcePath, &kind);
    if (!job.source) {
        result.failure = kind ? Failure::SourceNotRegular : Failure::SourceUnreadable;
        result.error = errno;
        result.detail = kind ? kind : "";
        return 0;
    }
    std::setvbuf(job.source, sourceBuffer.data(), _IOFBF, sourceBuffer.size());

    bool ok = StartDecoder(job);
    if (!ok) {
        if (job.frameOutside)
            result.failure = Failure::FrameOutside;
        else
            ReportDecoderFailure(job.decoderTrap, job.dinfo, result);
    }
    result.damagedOrientation = job.damagedOrientation;
    const bool buffered = IsBuffered(job.turn);
    if (ok && buffered &&
        static_cast<uint64_t>(job.stored.Width()) * static_cast<uint64_t>(job.stored.Height()) * 3 >
            MAX_TURNED_FRAME_BYTES) {
        // Turning a frame this large would hold more than the decoder may.
        ok = false;
        result.failure = Failure::SourceTooLarge;
        result.detail = "the turned frame needs more than 1 GiB of memory";
    }
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
    if (ok) {
        if (extras.keepProfile || extras.keepMetadata) {
            std::vector<std::string> dropped;
            WrittenImage image;  // three components, whatever the source had
            image.width = job.border ? border.PrintWidth() : static_cast<uint32_t>(crop.Width());
            image.height = job.border ? border.PrintHeight() : static_cast<uint32_t>(crop.Height());
            image.dpi = extras.recordDpi;
            image.srgb = job.photoColour.Use() == ProfileUse::Convert;
            image.otherProfile = job.photoColour.Use() == ProfileUse::Kept;
            if (!ReadSourceMetadata(sourcePath, extras.keepProfile, extras.keepMetadata, image, metadata, dropped)) {
                // The decoder read it; a record that cannot be is left out.
                metadata = SourceMetadata();
            }
            if (extras.warnings) extras.warnings->insert(extras.warnings->end(), dropped.begin(), dropped.end());
        }
        result.profileProblem = job.photoColour.Problem();
        // Converted pixels are sRGB, which needs no profile, and the source's
        // would lie about them. A profile of another colour space than the
        // new file's RGB was left out when it was read.
        if (job.photoColour.Use() == ProfileUse::Convert && !metadata.icc.empty()) {
            if (extras.warnings) extras.warnings->push_back(ConvertedProfileText(metadata.icc));
            metadata.icc.clear();
        }
        if (!metadata.Empty()) job.metadata = &metadata;
    }
    TempFile output;
    if (ok) {
        ok = output.Create(devfs::ToHostPath(destinationPath));
        job.destination = output.Stream();
        if (!ok) {
            result.failure = Failure::Destination;
            result.error = output.Error();
        }
    }
    if (ok) {
        ok = buffered ? StreamTurned(job) : Stream(job);
        encoder.Abandon();  // after a failure; the encoder must be idle before it is destroyed
        if (job.frameMemory) munmap(job.frameMemory, job.frameBytes);
        if (!ok && job.frameRefused) {
            result.failure = Failure::SourceTooLarge;
            result.detail = "not enough memory to turn the frame";
        } else if (!ok && job.decoderTrap.failed) {
            ReportDecoderFailure(job.decoderTrap, job.dinfo, result);
        } else if (!ok) {
            // Only writing can fail the encoder here; its errno says why.
            result.failure = Failure::Destination;
            result.error = job.encoderTrap.failed && job.encoderTrap.savedErrno ? job.encoderTrap.savedErrno : EIO;
        }
    }
    if (ok) ReportDamage(job.decoderTrap, result);

    if (job.encoderCreated) jpeg_destroy_compress(&job.cinfo);
    if (job.decoderCreated) jpeg_destroy_decompress(&job.dinfo);
    std::fclose(job.source);

    if (ok && !output.Commit()) {
        result.failure = Failure::Destination;
        result.error = output.Error();
        ok = false;
    }
    output.Discard();
    if (!output.LeftBehind().empty() && extras.warnings) extras.warnings->push_back(LeftBehindText(output));
    return ok ? 1 : 0;
}
