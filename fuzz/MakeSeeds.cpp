// Writes the fuzzer's seed corpus: one small photograph for each way of
// coding a JPEG that the decoder treats differently. Argument: the folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>
#include <lcms2.h>

namespace {

struct Seed {
    const char* name;
    int width;
    int height;
    J_COLOR_SPACE in;   // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    J_COLOR_SPACE out;  // the colour space in the file
    int hSample;        // luma sampling; chroma is 1x1
    int vSample;
    bool progressive = false;
    int restartRows = 0;
    bool arithmetic = false;
    int orientation = 0;  // above 0: an EXIF Orientation tag of this value
};

// Tiny ones for speed, and a few just above the smallest picture the preview
// takes (800 x 600), so that the preview's averaging runs as well.
const Seed SEEDS[] = {
    {"baseline-420-tiny.jpg", 37, 23, JCS_RGB, JCS_YCbCr, 2, 2},
    {"baseline-420.jpg", 808, 608, JCS_RGB, JCS_YCbCr, 2, 2},
    {"baseline-422-tiny.jpg", 19, 9, JCS_RGB, JCS_YCbCr, 2, 1},
    {"baseline-422.jpg", 801, 601, JCS_RGB, JCS_YCbCr, 2, 1},
    {"baseline-444-tiny.jpg", 16, 16, JCS_RGB, JCS_YCbCr, 1, 1},
    {"baseline-440-tiny.jpg", 24, 17, JCS_RGB, JCS_YCbCr, 1, 2},
    {"progressive-tiny.jpg", 33, 21, JCS_RGB, JCS_YCbCr, 2, 2, true},
    {"progressive.jpg", 816, 612, JCS_RGB, JCS_YCbCr, 2, 2, true},
    {"restart-tiny.jpg", 40, 40, JCS_RGB, JCS_YCbCr, 2, 2, false, 1},
    {"restart.jpg", 800, 600, JCS_RGB, JCS_YCbCr, 2, 1, false, 3},
    {"grey-tiny.jpg", 13, 11, JCS_GRAYSCALE, JCS_GRAYSCALE, 1, 1},
    {"grey.jpg", 804, 603, JCS_GRAYSCALE, JCS_GRAYSCALE, 1, 1, true},
    {"cmyk-tiny.jpg", 17, 15, JCS_CMYK, JCS_CMYK, 1, 1},
    {"cmyk.jpg", 810, 600, JCS_CMYK, JCS_CMYK, 1, 1},
    {"ycck-tiny.jpg", 18, 14, JCS_CMYK, JCS_YCCK, 2, 2},
    {"arithmetic-tiny.jpg", 21, 19, JCS_RGB, JCS_YCbCr, 2, 2, false, 0, true},
    {"arithmetic-progressive-tiny.jpg", 22, 18, JCS_RGB, JCS_YCbCr, 2, 1, true, 1, true},
    {"rgb-coded-tiny.jpg", 20, 12, JCS_RGB, JCS_RGB, 1, 1},
    // Stored on their side: the preview and the export turn them.
    {"orientation-6.jpg", 801, 601, JCS_RGB, JCS_YCbCr, 2, 1, false, 0, false, 6},
    {"orientation-3-tiny.jpg", 37, 23, JCS_RGB, JCS_YCbCr, 2, 2, false, 0, false, 3},
    {"orientation-8-progressive.jpg", 808, 608, JCS_RGB, JCS_YCbCr, 2, 2, true, 0, false, 8},
    {"orientation-7-cmyk-tiny.jpg", 17, 15, JCS_CMYK, JCS_CMYK, 1, 1, false, 0, false, 7},
    // Mirrored, with partial blocks the turn cannot move at the left or top.
    {"orientation-2-422-tiny.jpg", 41, 23, JCS_RGB, JCS_YCbCr, 2, 1, false, 0, false, 2},
    {"orientation-7-420-tiny.jpg", 43, 29, JCS_RGB, JCS_YCbCr, 2, 2, false, 0, false, 7},
};

// Smooth gradients with a few hard edges: both kinds of block the coder sees.
uint8_t Sample(int x, int y, int c, int w, int h) {
    const int edge = ((x / 97) ^ (y / 61)) & 1 ? 40 : 0;
    return static_cast<uint8_t>((x * 255 / w + y * 255 / h * (c + 1) / 3 + edge + c * 60) & 0xff);
}

bool Write(const Seed& s, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(s.width);
    c.image_height = static_cast<JDIMENSION>(s.height);
    c.input_components = s.in == JCS_GRAYSCALE ? 1 : s.in == JCS_CMYK ? 4 : 3;
    c.in_color_space = s.in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, s.out);
    jpeg_set_quality(&c, 60, TRUE);
    c.comp_info[0].h_samp_factor = s.hSample;
    c.comp_info[0].v_samp_factor = s.vSample;
    for (int i = 1; i < c.num_components; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    if (s.out == JCS_YCCK) {  // K at full resolution, like the luma
        c.comp_info[3].h_samp_factor = s.hSample;
        c.comp_info[3].v_samp_factor = s.vSample;
    }
    if (s.progressive) jpeg_simple_progression(&c);
    c.restart_in_rows = s.restartRows;
    c.arith_code = s.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    if (s.orientation > 0) {
        // "Exif\0\0", a little-endian TIFF header and an IFD0 holding only
        // the Orientation (SHORT, one value).
        const JOCTET exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0,
                               1, 0, 0, 0, static_cast<JOCTET>(s.orientation), 0, 0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<uint8_t> row(static_cast<size_t>(s.width) * c.input_components);
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < s.width; ++x)
            for (int k = 0; k < c.input_components; ++k)
                row[static_cast<size_t>(x) * c.input_components + k] = Sample(x, y, k, s.width, s.height);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

std::vector<uint8_t> Read(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

// ----- metadata segments, so that the kept-metadata paths start from
// records that reach their every branch.

using Bytes = std::vector<uint8_t>;

// A TIFF record: IFD0 (size, Make, Orientation 6, 72 dpi, Exif pointer
// unless left out), an Exif directory whose Interop pointer leads into its
// own pixel-size entry, IFD1 with a thumbnail.
Bytes ExifRecord(bool big, bool exifIfd) {
    Bytes t(286, 0);
    auto p16 = [&](size_t o, uint32_t v) {
        t[o + (big ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
        t[o + (big ? 1 : 0)] = static_cast<uint8_t>(v);
    };
    auto p32 = [&](size_t o, uint32_t v) {
        for (int i = 0; i < 4; ++i) t[o + (big ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto entry = [&](size_t o, uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        p16(o, tag), p16(o + 2, type), p32(o + 4, count);
        if (type == 3 && count == 1)
            p16(o + 8, value);
        else
            p32(o + 8, value);
    };
    t[0] = t[1] = big ? 'M' : 'I';
    p16(2, 42), p32(4, 8);
    p16(8, exifIfd ? 8 : 7);
    entry(10, 0x0100, 4, 1, 37);
    entry(22, 0x0101, 4, 1, 23);
    entry(34, 0x010F, 2, 7, 200);
    entry(46, 0x0112, 3, 1, 6);
    entry(58, 0x011A, 5, 1, 208);
    entry(70, 0x011B, 5, 1, 216);
    entry(82, 0x0128, 3, 1, 2);
    if (exifIfd) entry(94, 0x8769, 4, 1, 120);
    p32(exifIfd ? 106 : 94, 232);
    p16(120, 5);
    entry(122, 0x829A, 5, 1, 224);
    entry(134, 0x9000, 7, 4, 0x31333230);
    entry(146, 0xA002, 3, 1, 1);
    entry(158, 0xA003, 3, 1, 23);
    entry(170, 0xA005, 4, 1, 154);
    const char make[] = "Camera";
    for (size_t i = 0; i < sizeof make; ++i) t[200 + i] = static_cast<uint8_t>(make[i]);
    p32(208, 72), p32(212, 1), p32(216, 72), p32(220, 1), p32(224, 1), p32(228, 125);
    p16(232, 2);
    entry(234, 0x0201, 4, 1, 270);
    entry(246, 0x0202, 4, 1, 16);
    t[270] = 0xFF, t[271] = 0xD8, t[284] = 0xFF, t[285] = 0xD9;
    Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), t.begin(), t.end());
    return payload;
}

Bytes Text(const std::string& s, bool terminated = false) {
    Bytes b(s.begin(), s.end());
    if (terminated) b.push_back(0);
    return b;
}

Bytes Xmp(bool damaged) {
    Bytes b = Text("http://ns.adobe.com/xap/1.0/", true);
    const std::string packet =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/' "
        "xmlns:exif='http://ns.adobe.com/exif/1.0/' tiff:Orientation='6' tiff:ImageWidth='37' "
        "tiff:XResolution='72/1' exif:PixelXDimension='37'/></rdf:RDF></x:xmpmeta>";
    const Bytes p = Text(damaged ? packet.substr(0, packet.size() / 2) : packet);
    b.insert(b.end(), p.begin(), p.end());
    return b;
}

// One ICC_PROFILE chunk holding the profile.
Bytes IccChunk(const Bytes& profile) {
    Bytes b = Text("ICC_PROFILE", true);
    b.push_back(1), b.push_back(1);
    b.insert(b.end(), profile.begin(), profile.end());
    return b;
}

// A small profile of that colour space, its header giving its length unless
// told another.
Bytes Icc(const char* space, uint32_t stated = 160) {
    Bytes profile(160, 0);
    for (int i = 0; i < 4; ++i) profile[i] = static_cast<uint8_t>(stated >> (24 - 8 * i));
    for (int i = 0; i < 4; ++i) profile[16 + i] = static_cast<uint8_t>(space[i]);
    profile[36] = 'a', profile[37] = 'c', profile[38] = 's', profile[39] = 'p';
    return IccChunk(profile);
}

// Display P3 (a phone's colours) as Little CMS makes it; its header claims
// another length when stated is set.
Bytes DisplayP3(uint32_t stated = 0) {
    const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", "Display P3");
    cmsWriteTag(p, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    Bytes profile(n);
    cmsSaveProfileToMem(p, profile.data(), &n);
    cmsCloseProfile(p);
    if (stated)
        for (int i = 0; i < 4; ++i) profile[i] = static_cast<uint8_t>(stated >> (24 - 8 * i));
    return IccChunk(profile);
}

// A little-endian record whose Exif directory holds these UNDEFINED tags
// (ascending): large ones, which exiv2's encoder would drop without a word
// once the record no longer fits one marker.
Bytes LargeTagsExif(const std::vector<std::pair<uint16_t, size_t>>& tags) {
    Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint32_t v) { t.push_back(static_cast<uint8_t>(v)), t.push_back(static_cast<uint8_t>(v >> 8)); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    u16(1);
    u16(0x8769), u16(4), u32(1), u32(26);  // the Exif directory, right after IFD0
    u32(0);
    uint32_t data = 26 + 2 + 12 * static_cast<uint32_t>(tags.size()) + 4;
    u16(static_cast<uint32_t>(tags.size()));
    for (const auto& [tag, size] : tags) {
        u16(tag), u16(7), u32(static_cast<uint32_t>(size)), u32(data);
        data += static_cast<uint32_t>(size);
    }
    u32(0);
    for (const auto& [tag, size] : tags) t.insert(t.end(), size, static_cast<uint8_t>(tag));
    Bytes payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), t.begin(), t.end());
    return payload;
}

// A record too large for one marker in as many as it takes, each going on
// where the one before stopped, as exiftool writes it.
std::vector<std::pair<int, Bytes>> SplitExif(const Bytes& payload) {
    std::vector<std::pair<int, Bytes>> list;
    constexpr size_t ROOM = 65533 - 6;
    for (size_t at = 6; at < payload.size(); at += ROOM) {
        Bytes part(payload.begin(), payload.begin() + 6);
        const size_t end = at + ROOM < payload.size() ? at + ROOM : payload.size();
        part.insert(part.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                    payload.begin() + static_cast<std::ptrdiff_t>(end));
        list.emplace_back(0xE1, part);
    }
    return list;
}

// The file with these APPn segments after its first marker segment (JFIF
// or Adobe) or right after SOI when it has none.
Bytes WithSegments(const Bytes& jpeg, const std::vector<std::pair<int, Bytes>>& segments) {
    size_t at = 2;
    if (jpeg.size() > 6 && jpeg[2] == 0xFF && (jpeg[3] == 0xE0 || jpeg[3] == 0xEE))
        at = 4 + (static_cast<size_t>(jpeg[4]) << 8 | jpeg[5]);
    Bytes out(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    for (const auto& [marker, data] : segments) {
        const size_t length = data.size() + 2;
        out.push_back(0xFF);
        out.push_back(static_cast<uint8_t>(marker));
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
        out.insert(out.end(), data.begin(), data.end());
    }
    out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
    return out;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    for (const Seed& s : SEEDS) {
        if (!Write(s, folder + "/" + s.name)) {
            std::fprintf(stderr, "cannot write %s\n", s.name);
            return 1;
        }
    }
    // Damaged ones: decoding goes on with substitute data there.
    const std::vector<uint8_t> whole = Read(folder + "/baseline-420.jpg");
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 3));
    std::vector<uint8_t> corrupt = Read(folder + "/progressive-tiny.jpg");
    for (size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 24 && i + 2 < corrupt.size(); i += 3)
        corrupt[i] ^= 0x5a;
    if (whole.empty() || corrupt.empty() || !Save(folder + "/truncated.jpg", cut) ||
        !Save(folder + "/corrupt-tiny.jpg", corrupt)) {
        std::fprintf(stderr, "cannot write the damaged seeds\n");
        return 1;
    }
    const Bytes tiny = Read(folder + "/baseline-420-tiny.jpg");
    const Bytes cmyk = Read(folder + "/cmyk-tiny.jpg");
    const Bytes rgb = Read(folder + "/rgb-coded-tiny.jpg");
    const std::pair<const char*, Bytes> tagged[] = {
        {"exif-turned-tiny.jpg", WithSegments(tiny, {{0xE1, ExifRecord(false, true)}, {0xE1, Xmp(false)},
                                                     {0xE2, Icc("RGB ")}})},
        // A UserComment that alone fills the marker; one beside a maker note
        // that must make room for it.
        {"exif-user-comment-65400.jpg", WithSegments(tiny, {{0xE1, LargeTagsExif({{0x9286, 65400}})}})},
        {"exif-user-comment-two-markers.jpg", WithSegments(tiny, SplitExif(LargeTagsExif({{0x9286, 65600}})))},
        {"exif-maker-note-and-user-comment.jpg",
         WithSegments(tiny, {{0xE1, LargeTagsExif({{0x927C, 25600}, {0x9286, 39850}})}})},
        // Profiles: one the pixels are converted from, and damaged ones whose
        // header claims 0xFFFFFFF0 bytes.
        {"display-p3-tiny.jpg", WithSegments(tiny, {{0xE2, DisplayP3()}})},
        {"display-p3-oversized-tiny.jpg", WithSegments(tiny, {{0xE2, DisplayP3(0xFFFFFFF0)}})},
        {"profile-oversized-tiny.jpg", WithSegments(rgb, {{0xE2, Icc("RGB ", 0xFFFFFFF0)}})},
        {"exif-big-endian-no-exif-ifd-tiny.jpg", WithSegments(tiny, {{0xE1, ExifRecord(true, false)}})},
        {"xmp-damaged-tiny.jpg", WithSegments(tiny, {{0xE1, Xmp(true)}, {0xE2, Icc("CMYK")}})},
        {"cmyk-profile-tiny.jpg", WithSegments(cmyk, {{0xE1, ExifRecord(true, true)}, {0xE2, Icc("CMYK")}})},
        {"rgb-coded-profile-tiny.jpg", WithSegments(rgb, {{0xE2, Icc("RGB ")}, {0xE1, Xmp(false)}})},
    };
    for (const auto& [name, bytes] : tagged) {
        if (tiny.empty() || cmyk.empty() || rgb.empty() || !Save(folder + "/" + name, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", name);
            return 1;
        }
    }
    return 0;
}
