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
// The new file is written under a temporary name in the destination folder
// and renamed over the destination only once it is complete and on disk, so
// a failed export neither leaves a damaged file nor destroys an existing one.
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "imaging/ExportThreads.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Pipeline.h"
#include "imaging/TempFile.h"
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
    CRect crop;
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
    JobPreparer preparer;
};

// Neither of the two functions below may hold an object with a destructor:
// a fatal library error leaves them through longjmp.

bool StartDecoder(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    jpeg_decompress_struct& dinfo = job.dinfo;
    if (!StartRgbDecoder(dinfo, job.decoderTrap, &job.jump, job.source, job.decoderCreated, job.colour)) return false;
    job.photoColour.Prepare(dinfo, job.colour, job.extras->keepProfile);

    // The caller keeps the frame inside the photograph; a frame that is not
    // would make the library skip or crop past the end.
    const CRect& c = job.crop;
    job.frameOutside = !(c.left >= 0 && c.top >= 0 && c.left < c.right && c.top < c.bottom &&
                         static_cast<JDIMENSION>(c.right) <= dinfo.output_width &&
                         static_cast<JDIMENSION>(c.bottom) <= dinfo.output_height);
    return !job.frameOutside;
}

bool Stream(ExportJob& job) {
    if (setjmp(job.jump)) return false;
    jpeg_decompress_struct& dinfo = job.dinfo;
    jpeg_compress_struct& cinfo = job.cinfo;
    const CRect& crop = job.crop;
    const JDIMENSION fullWidth = dinfo.output_width;
    const JDIMENSION left = static_cast<JDIMENSION>(crop.left);
    const JDIMENSION right = static_cast<JDIMENSION>(crop.right);
    const JDIMENSION top = static_cast<JDIMENSION>(crop.top);
    const JDIMENSION bottom = static_cast<JDIMENSION>(crop.bottom);
    const JDIMENSION outWidth = right - left;

    cinfo.err = InitErrorTrap(job.encoderTrap, &job.jump);
    jpeg_create_compress(&cinfo);
    job.encoderCreated = true;
    jpeg_stdio_dest(&cinfo, job.destination);
    cinfo.image_width = outWidth;
    cinfo.image_height = bottom - top;
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

    JDIMENSION windowLeft = left > COLUMN_MARGIN ? left - COLUMN_MARGIN : 0;
    JDIMENSION windowWidth = std::min(fullWidth, right + COLUMN_MARGIN) - windowLeft;
    if (windowWidth < fullWidth) jpeg_crop_scanline(&dinfo, &windowLeft, &windowWidth);

    const int components = dinfo.output_components;
    const j_common_ptr common = reinterpret_cast<j_common_ptr>(&dinfo);
    // Rows go to the encoder a batch at a time: decoder and encoder each work
    // on their own rows for a while instead of evicting each other's state
    // from the cache after every row.
    JSAMPARRAY decoded =
        (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, dinfo.output_width * components, ROWS_PER_BATCH);
    JSAMPARRAY converted = nullptr;
    if (job.colour != SourceColour::Rgb)
        converted = (*dinfo.mem->alloc_sarray)(common, JPOOL_IMAGE, outWidth * 3, ROWS_PER_BATCH);
    // Where the frame's pixels start in each row of the batch.
    const size_t offset = static_cast<size_t>(left - windowLeft) * components;
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

    while (dinfo.output_scanline < top) {
        const JDIMENSION chunk = std::min(SKIP_CHUNK, top - dinfo.output_scanline);
        if (jpeg_skip_scanlines(&dinfo, chunk) == 0) return false;
        progress.PumpOneMessage();
        report(dinfo.output_scanline);
    }

    // With a spare core the batches go to the encoder's own thread; the
    // rows and their order stay the same.
    const bool share = job.photoColour.Shaper() != nullptr;
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
        if (batch == &own || !share || pending < DECODER_PREPARES)
            PrepareRow(job.photoColour, job.tone, row + offset, batch->rows[pending], outWidth);
        if (++pending == ROWS_PER_BATCH || y + 1 == bottom) {
            if (batch != &own) {
                batch->count = pending;
                batch->prepared = share ? std::min(pending, DECODER_PREPARES) : pending;
                encoder->Push(batch);
            } else {
                jpeg_write_scanlines(&cinfo, batch->rows, pending);
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
    SourceMetadata metadata;
    if (extras.keepProfile || extras.keepMetadata) {
        std::vector<std::string> dropped;
        if (!ReadSourceMetadata(sourcePath, extras.keepProfile, extras.keepMetadata,
                                static_cast<uint32_t>(crop.Width()), static_cast<uint32_t>(crop.Height()), metadata,
                                dropped)) {
            // The decoder below tells what is wrong with the file.
            metadata = SourceMetadata();
        }
        if (extras.warnings) extras.warnings->insert(extras.warnings->end(), dropped.begin(), dropped.end());
    }
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
    if (ok) {
        result.profileProblem = job.photoColour.Problem();
        // The new file holds RGB pixels: a profile goes along only when it
        // still tells how to show them. Converted pixels are sRGB, which
        // needs none; a CMYK or grey profile describes no RGB pixels.
        const ProfileUse use = job.photoColour.Use();
        const ProfileSpace space = job.photoColour.Space();
        const bool otherSpace = space == ProfileSpace::Grey || space == ProfileSpace::Cmyk;
        if (!metadata.icc.empty() && (use == ProfileUse::Convert || (use == ProfileUse::Unfit && otherSpace))) {
            metadata.icc.clear();
            if (extras.keepProfile && extras.warnings && otherSpace)
                extras.warnings->push_back(std::string("its ") + (space == ProfileSpace::Cmyk ? "CMYK" : "grey") +
                                           " colour profile is not kept: the new file holds RGB pixels" +
                                           (use == ProfileUse::Convert ? ", converted to sRGB through it" : ""));
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
        ok = Stream(job);
        encoder.Abandon();  // after a failure; the encoder must be idle before it is destroyed
        if (!ok && job.decoderTrap.failed) {
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

    if (!ok) return 0;
    if (!output.Commit()) {
        result.failure = Failure::Destination;
        result.error = output.Error();
        return 0;
    }
    return 1;
}
