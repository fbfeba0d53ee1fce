// One fuzz input is one photograph file. It goes through both long
// operations, as the program would use them: the preview first, then the
// export of a frame inside the picture. Whatever the bytes, neither may
// crash or leak; an export that reports success must have written a JPEG
// that decodes without a single warning to exactly the frame's size, and no
// temporary file may ever stay behind in the destination folder.
//
// Built as a libFuzzer target with clang (scripts: fuzz/run.sh) and, with any
// compiler, with ReplayMain.cpp as a plain program that CTest runs over the
// seed corpus.
#include <dirent.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/Export.h"
#include "imaging/HeifImage.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "platform/DeviceFs.h"
#include "platform/MessageBox.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

// Pictures whose header claims more pixels than this are only looked at, not
// decoded: decoding a made-up 65500 x 65500 header takes minutes of
// substitute rows and finds nothing a smaller one would not.
constexpr uint64_t MAX_PIXELS = 1'500'000;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz target: %s\n", what);
    std::abort();
}

struct Folder {
    std::string root;
    std::string out;
    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/trimora-fuzz-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!mkdtemp(name.data())) Fail("cannot make a temporary folder");
        root = name.data();
        out = root + "/out";
        if (mkdir(out.c_str(), 0700) != 0) Fail("cannot make the destination folder");
        devfs::SetStorageRoot(root);
    }
    ~Folder() {
        Empty();
        rmdir(out.c_str());
        unlink((root + "/in.jpg").c_str());
        rmdir(root.c_str());
    }
    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        if (DIR* d = opendir(out.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            closedir(d);
        }
        return names;
    }
    void Empty() const {
        for (const auto& n : Listing()) unlink((out + "/" + n).c_str());
    }
};

Folder& TheFolder() {
    static Folder folder;
    return folder;
}

struct Trap {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void Escape(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<Trap*>(cinfo->err)->jump, 1); }
void Quiet(j_common_ptr) {}

// Reads a file with plain libjpeg: its header only, or the whole picture.
// True when nothing failed and, for the whole picture, nothing was warned
// about; w and h are then the picture's size, upright as its EXIF
// Orientation turns it.
bool ReadWithLibjpeg(const std::string& path, bool whole, uint32_t& w, uint32_t& h) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct d{};
    Trap trap;
    d.err = jpeg_std_error(&trap.pub);
    trap.pub.error_exit = Escape;
    trap.pub.output_message = Quiet;
    bool ok = false;
    JSAMPROW row = nullptr;
    if (!setjmp(trap.jump)) {
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        SaveLookMarkers(d);
        jpeg_read_header(&d, TRUE);
        if (whole) {
            jpeg_start_decompress(&d);
            row = static_cast<JSAMPROW>(std::malloc(static_cast<size_t>(d.output_width) * d.output_components));
            while (d.output_scanline < d.output_height) jpeg_read_scanlines(&d, &row, 1);
            jpeg_finish_decompress(&d);
        }
        const bool turned = ReadOrientationTag(d).orientation.Transposed();
        w = turned ? d.image_height : d.image_width;
        h = turned ? d.image_width : d.image_height;
        ok = !whole || trap.pub.num_warnings == 0;
    }
    std::free(row);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return ok;
}

// The choices the program's user would make (preview area, frame, tone,
// quality) come from a hash of the input, so that each input always takes
// the same path and the seeds' small changes try different frames.
struct Choices {
    uint64_t state;
    explicit Choices(const uint8_t* data, size_t size) : state(1469598103934665603ull) {
        for (size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 1099511628211ull;
    }
    uint32_t Next(uint32_t bound) {  // 0 .. bound-1
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return bound ? static_cast<uint32_t>((state >> 33) % bound) : 0;
    }
};

// The number of components of a JPEG file's frame, 0 when unreadable.
int Components(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    jpeg_decompress_struct d{};
    Trap trap;
    d.err = jpeg_std_error(&trap.pub);
    trap.pub.error_exit = Escape;
    trap.pub.output_message = Quiet;
    int components = 0;
    if (!setjmp(trap.jump)) {
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        components = d.num_components;
    }
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return components;
}

// What an export wrote is read again as a source: the profile fits its
// pixels, EXIF and XMP parse, and they say nothing that needs changing.
void CheckKeptMetadata(const std::wstring& path, int components, uint32_t width, uint32_t height, int dpi) {
    WrittenImage image;
    image.width = width;
    image.height = height;
    image.components = components;
    image.dpi = dpi;
    SourceMetadata again;
    std::vector<std::string> warnings;
    if (!ReadSourceMetadata(path, true, true, image, again, warnings)) Fail("a written file's markers do not read");
    if (!warnings.empty()) Fail(("written metadata does not read back: " + warnings[0]).c_str());
    const SourceMetadata before = again;
    std::string problem;
    if (!again.exif.empty() && (!FixExifForOutput(again.exif, image, problem) || again.exif != before.exif))
        Fail("written EXIF does not describe the written file");
    if (!again.xmp.empty() && (!FixXmpForOutput(again.xmp, image, problem) || again.xmp != before.xmp))
        Fail("written XMP does not describe the written file");
}

// A HEIF photograph: opened, decoded and handed on row by row, or refused
// with a reason; its metadata made to agree with a new file.
void CheckHeif(const uint8_t* data, size_t size) {
    if (!LooksLikeHeif(data, size)) return;
    HeifLimits limits;
    limits.maxPixels = MAX_PIXELS;
    limits.decodingThreads = 1;
    HeifImage image;
    std::string reason;
    if (!image.Open(L"\\in.jpg", limits, reason)) {
        if (reason.empty()) Fail("a HEIF file is refused without a reason");
        return;
    }
    if (image.Width() == 0 || image.Height() == 0 || uint64_t{image.Width()} * image.Height() > MAX_PIXELS)
        Fail("an opened HEIF image is empty or beyond its limits");
    std::string problem;
    std::vector<JOCTET> exif = image.Exif(), xmp = image.Xmp();
    WrittenImage written;
    written.width = image.Width();
    written.height = image.Height();
    if (!exif.empty()) FixExifForOutput(exif, written, problem);
    if (!xmp.empty()) FixXmpForOutput(xmp, written, problem);
    if (!image.Decode(reason)) {
        if (reason.empty()) Fail("a HEIF image's decoding fails without a reason");
        return;
    }
    uint32_t rows = 0;
    while (image.NextRow()) ++rows;
    if (rows != image.Height()) Fail("a decoded HEIF image hands on another number of rows than its height");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        SetMessageBoxHandler([](const MessageRequest&) { return 1; });
        return true;
    }();
    (void)quiet;
    Folder& folder = TheFolder();
    const std::string source = folder.root + "/in.jpg";
    {
        FILE* f = std::fopen(source.c_str(), "wb");
        if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) Fail("cannot write the input");
    }

    CheckHeif(data, size);

    uint32_t width = 0, height = 0;
    if (ReadWithLibjpeg(source, false, width, height) && static_cast<uint64_t>(width) * height > MAX_PIXELS) return 0;

    Choices choose(data, size);
    NullProgressSink sink;

    CSize box(1 + static_cast<int32_t>(choose.Next(800)), 1 + static_cast<int32_t>(choose.Next(600)));
    if (choose.Next(2)) box = CSize(800, 600);
    const CSize asked = box;
    CSize sourceSize;
    PreviewBuffer preview;
    if (LoadPreview(L"\\in.jpg", box, sourceSize, preview, sink)) {
        if (sourceSize.cx != static_cast<int32_t>(width) || sourceSize.cy != static_cast<int32_t>(height))
            Fail("the preview reports another size than the header");
        if (box.cx < 1 || box.cy < 1 || box.cx > asked.cx || box.cy > asked.cy)
            Fail("the preview does not fit the box it was given");
        if (preview.Size() != static_cast<size_t>(box.cx) * box.cy * 3) Fail("the preview's bytes do not match its size");
    }

    // A frame inside the picture, as the program only ever asks for; a file
    // without a readable header still gets a frame, which must fail cleanly.
    CRect crop(0, 0, 1, 1);
    if (width > 0 && height > 0) {
        const uint32_t w = 1 + choose.Next(width < 1200 ? width : 1200);
        const uint32_t h = 1 + choose.Next(height < 900 ? height : 900);
        const uint32_t x = choose.Next(width - w + 1);
        const uint32_t y = choose.Next(height - h + 1);
        crop = CRect(static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(x + w),
                     static_cast<int32_t>(y + h));
    }
    ToneCurve curve;
    if (const uint32_t preset = choose.Next(13); preset < 12) {
        ApplyPreset(curve, static_cast<int>(preset));
        curve.UpdateLut();
    }
    const int quality = choose.Next(4) ? 95 : 1 + static_cast<int>(choose.Next(100));

    const bool written = ExportFramedImage(L"\\in.jpg", L"\\out\\frame.jpg", crop, sink, curve, quality) == 1;
    const std::vector<std::string> left = folder.Listing();
    if (written) {
        if (left.size() != 1 || left[0] != "frame.jpg") Fail("something besides the output is left in the folder");
        uint32_t w = 0, h = 0;
        if (!ReadWithLibjpeg(folder.out + "/frame.jpg", true, w, h)) Fail("a reported success does not decode cleanly");
        if (w != static_cast<uint32_t>(crop.Width()) || h != static_cast<uint32_t>(crop.Height()))
            Fail("a reported success has another size than the frame");
    } else if (!left.empty()) {
        Fail("a failed export left a file behind");
    }
    folder.Empty();

    // The lab options: the source's metadata made to agree with the new
    // file, the density, and the lossless cut. Whatever is written must read
    // back without a single complaint about the metadata it carries.
    std::vector<std::string> warnings;
    ExportExtras extras;
    extras.keepMetadata = choose.Next(4) != 0;
    extras.keepProfile = !extras.keepMetadata && choose.Next(2);
    extras.recordDpi = choose.Next(3) ? 0 : 1 + static_cast<int>(choose.Next(1200));
    extras.warnings = &warnings;
    if (ExportFramedImageWith(L"\\in.jpg", L"\\out\\kept.jpg", crop, sink, ExportLevels(curve).Table(), quality, extras) == 1) {
        uint32_t w = 0, h = 0;
        if (!ReadWithLibjpeg(folder.out + "/kept.jpg", true, w, h)) Fail("a kept-metadata export does not decode");
        CheckKeptMetadata(L"\\out\\kept.jpg", 3, static_cast<uint32_t>(crop.Width()),
                          static_cast<uint32_t>(crop.Height()), extras.recordDpi);
    }
    LosslessCut cut;
    std::string error;
    if (ExportLossless(L"\\in.jpg", L"\\out\\cut.jpg", crop, extras, cut, error) == 1) {
        uint32_t w = 0, h = 0;
        if (!ReadWithLibjpeg(folder.out + "/cut.jpg", false, w, h)) Fail("a lossless cut has no readable header");
        if (w != static_cast<uint32_t>(cut.written.Width()) || h != static_cast<uint32_t>(cut.written.Height()))
            Fail("a lossless cut has another size than it reports");
        if (cut.written.left != crop.left - cut.shiftX || cut.written.top != crop.top - cut.shiftY)
            Fail("a lossless cut does not start where its shift says");
        if (!cut.clipped && (cut.written.Width() != crop.Width() || cut.written.Height() != crop.Height()))
            Fail("a lossless cut that is not clipped has another size than its frame");
        CheckKeptMetadata(L"\\out\\cut.jpg", Components(folder.out + "/cut.jpg"), w, h, extras.recordDpi);
    } else if (error.empty()) {
        Fail("a failed lossless cut does not say why");
    }
    for (const std::string& name : folder.Listing())
        if (name != "kept.jpg" && name != "cut.jpg") Fail("an export with metadata left something behind");
    folder.Empty();
    return 0;
}
