// Decodes a photograph once, row by row, and averages it down into the
// preview while it goes: the full picture is never in memory.
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include "imaging/JpegSource.h"
#include "imaging/Pipeline.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "platform/WaitCursor.h"

namespace {

constexpr JDIMENSION MIN_WIDTH = 800;
constexpr JDIMENSION MIN_HEIGHT = 600;

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

    // Per-column sums of the band being gathered. Adding each row into these
    // as it arrives gives the same integer sums as keeping the band's rows
    // and adding them up at the end, in a quarter of the memory traffic.
    ByteBuffer columnSums;

    // Filled on success.
    CSize sourceSize;
    CSize previewSize;
};

enum class Outcome { Done, Refused, Failed };

// No object with a destructor may live in this function's frame: a fatal
// library error leaves it through longjmp.
Outcome Decode(PreviewJob& job) {
    if (setjmp(job.jump)) return Outcome::Failed;

    jpeg_decompress_struct& cinfo = job.cinfo;
    cinfo.err = InitErrorTrap(job.trap, &job.jump);
    jpeg_create_decompress(&cinfo);
    job.decoderCreated = true;
    jpeg_stdio_src(&cinfo, job.file);
    jpeg_read_header(&cinfo, TRUE);

    SourceColour colour = SourceColour::Rgb;
    if (!SelectRgbOutput(cinfo, colour)) return Outcome::Failed;
    jpeg_start_decompress(&cinfo);

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
    job.columnSums.Resize(static_cast<size_t>(W) * 3 * sizeof(uint32_t));
    auto* sums = reinterpret_cast<uint32_t*>(job.columnSums.Data());

    const int components = cinfo.output_components;
    JSAMPARRAY decoded = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                    width * components, 1);
    JSAMPROW rgb = decoded[0];
    if (colour != SourceColour::Rgb)
        rgb = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, width * 3, 1)[0];

    // The rightmost column any preview pixel averages; the rest of each row
    // is never looked at.
    int32_t usedColumns = static_cast<int32_t>(static_cast<float>(pw) * step);
    if (usedColumns > W) usedColumns = W;
    const size_t usedBytes = static_cast<size_t>(usedColumns) * 3;

    int32_t consumed = 0;
    int32_t bandRows = 0;
    int32_t outRow = 0;
    float acc = 0.0f;
    int lastPercent = -1;

    while (cinfo.output_scanline < height) {
        job.progress->PumpOneMessage();
        const int percent = consumed * 100 / H;
        if (percent != lastPercent) {
            job.progress->DrawProgress(percent);
            lastPercent = percent;
        }
        jpeg_read_scanlines(&cinfo, decoded, 1);
        if (outRow >= ph) continue;

        if (colour != SourceColour::Rgb)
            CmykToRgb(decoded[0], rgb, usedColumns, colour == SourceColour::CmykInverted);
        for (size_t i = 0; i < usedBytes; ++i) sums[i] += rgb[i];

        ++bandRows;
        if (bandRows < rowsPerBand) {
            ++consumed;
            continue;
        }

        uint8_t* out = preview.Data() + static_cast<size_t>(outRow) * pw * 3;
        for (int32_t x = 0; x < pw; ++x) {
            const int32_t x0 = static_cast<int32_t>(static_cast<float>(x) * step);
            int32_t x1 = static_cast<int32_t>(static_cast<float>(x + 1) * step);
            if (x1 > usedColumns) x1 = usedColumns;
            // 64 bits: a one-pixel-wide preview of a very wide photograph
            // would overflow 32.
            uint64_t sumR = 0, sumG = 0, sumB = 0;
            for (int32_t k = x0; k < x1; ++k) {
                sumR += sums[k * 3 + 0];
                sumG += sums[k * 3 + 1];
                sumB += sums[k * 3 + 2];
            }
            const uint64_t n = static_cast<uint64_t>(x1 - x0) * static_cast<uint64_t>(rowsPerBand);
            if (n == 0) continue;
            const uint64_t r = sumR / n, g = sumG / n, b = sumB / n;
            out[x * 3 + 0] = static_cast<uint8_t>(r > 255 ? 255 : r);
            out[x * 3 + 1] = static_cast<uint8_t>(g > 255 ? 255 : g);
            out[x * 3 + 2] = static_cast<uint8_t>(b > 255 ? 255 : b);
        }
        for (size_t i = 0; i < usedBytes; ++i) sums[i] = 0;

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
                ProgressSink& progress) {
    CWaitCursor wait;
    if (box.cx < 1 || box.cx > 800 || box.cy < 1 || box.cy > 600) return 0;

    PreviewJob job;
    job.file = devfs::OpenFile(path, "rb");
    if (!job.file) return 0;
    job.box = box;
    job.progress = &progress;
    job.preview = &preview;

    const Outcome outcome = Decode(job);

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
