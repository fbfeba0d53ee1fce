// trimora-cli's additions to the export: the encoder on a second thread, the
// lossless cut, and the markers carried over. Files are read back with a
// marker walker and an EXIF reader of the test's own.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>

#include <jpeglib.h>

#include "TestJpeg.h"
#include "app/PipelineWrappers.h"
#include "TurnedJpeg.h"
#include "imaging/Export.h"
#include "imaging/Metadata.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

// Grants a core from the n-th question on, so the encoder moves mid-way.
class Cores : public SpareCores {
public:
    explicit Cores(int from = 0) : m_from(from) {}
    bool Claim() override {
        if (m_asked++ < m_from) return false;
        ++claimed;
        return true;
    }
    void Release() override { ++released; }
    std::atomic<int> claimed{0}, released{0};

private:
    int m_from;
    int m_asked = 0;
};

// ----- the test's own reading of a JPEG header and of EXIF

struct Segment {
    int marker;
    std::string data;
};

std::vector<Segment> HeaderSegments(const std::string& f) {
    std::vector<Segment> list;
    size_t p = 2;
    while (p + 4 <= f.size() && uint8_t(f[p]) == 0xFF && uint8_t(f[p + 1]) != 0xDA) {
        const size_t len = uint8_t(f[p + 2]) << 8 | uint8_t(f[p + 3]);
        list.push_back({uint8_t(f[p + 1]), f.substr(p + 4, len - 2)});
        p += 2 + len;
    }
    return list;
}

// The source file with segments placed after its JFIF header.
std::string WithSegments(const std::string& jpeg, const std::vector<Segment>& add) {
    const size_t at = 4 + (uint8_t(jpeg[4]) << 8 | uint8_t(jpeg[5]));
    std::string out = jpeg.substr(0, at);
    for (const Segment& s : add) {
        const size_t len = s.data.size() + 2;
        out += {'\xFF', char(s.marker), char(len >> 8), char(len & 0xFF)};
        out += s.data;
    }
    return out + jpeg.substr(at);
}

std::string Find(const std::vector<Segment>& list, int marker, const std::string& prefix) {
    for (const Segment& s : list)
        if (s.marker == marker && s.data.compare(0, prefix.size(), prefix) == 0) return s.data;
    return "";
}

std::string IccOf(const std::vector<Segment>& list) {
    std::string icc;
    for (int seq = 1;; ++seq) {
        bool found = false;
        for (const Segment& s : list)
            if (s.marker == 0xE2 && s.data.size() > 14 && s.data.compare(0, 12, std::string("ICC_PROFILE\0", 12)) == 0 &&
                uint8_t(s.data[12]) == seq) {
                icc += s.data.substr(14);
                found = true;
            }
        if (!found) return icc;
    }
}

// A bounds-checked EXIF reader: IFD0, its Exif directory, a tag's value.
struct ExifView {
    std::string t;  // the TIFF record
    bool big = false;
    bool ok = false;
    uint32_t U16(size_t o) const { return o + 2 > t.size() ? ~0u : big ? (uint8_t(t[o]) << 8 | uint8_t(t[o + 1])) : (uint8_t(t[o]) | uint8_t(t[o + 1]) << 8); }
    uint32_t U32(size_t o) const {
        if (o + 4 > t.size()) return ~0u;
        return big ? (U16(o) << 16 | U16(o + 2)) : (U16(o) | U16(o + 2) << 16);
    }
    explicit ExifView(const std::string& payload) {
        if (payload.size() < 14 || payload.compare(0, 6, std::string("Exif\0\0", 6)) != 0) return;
        t = payload.substr(6);
        big = t[0] == 'M';
        ok = U16(2) == 42;
    }
    // The entry of tag in the directory at ifd, or 0.
    size_t Entry(uint32_t ifd, uint32_t tag) const {
        const uint32_t n = U16(ifd);
        if (n == ~0u) return 0;
        for (uint32_t i = 0; i < n && ifd + 2 + 12 * (i + 1) <= t.size(); ++i)
            if (U16(ifd + 2 + 12 * i) == tag) return ifd + 2 + 12 * i;
        return 0;
    }
    uint32_t Ifd0() const { return U32(4); }
    uint32_t Next(uint32_t ifd) const { return U32(ifd + 2 + 12 * U16(ifd)); }
    uint32_t ExifIfd() const {
        const size_t e = Entry(Ifd0(), 0x8769);
        return e ? U32(e + 8) : 0;
    }
    // A SHORT or LONG value of one item; ~0 when missing.
    uint32_t Number(uint32_t ifd, uint32_t tag) const {
        const size_t e = Entry(ifd, tag);
        if (!e || U32(e + 4) != 1) return ~0u;
        return U16(e + 2) == 3 ? U16(e + 8) : U16(e + 2) == 4 ? U32(e + 8) : ~0u;
    }
    std::string Bytes(uint32_t ifd, uint32_t tag) const {
        const size_t e = Entry(ifd, tag);
        if (!e) return "";
        static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
        const uint32_t type = U16(e + 2);
        if (type >= 14) return "";
        const uint64_t n = uint64_t(U32(e + 4)) * sizes[type];
        const uint64_t off = n <= 4 ? e + 8 : U32(e + 8);
        return off + uint64_t(n) <= t.size() ? t.substr(off, n) : "";
    }
};

// A camera's EXIF: IFD0 (Make, Exif pointer), the Exif directory (exposure,
// pixel size as SHORTs unless left out) and IFD1 with a thumbnail at the end.
std::string CameraExif(bool big, bool pixelTags = true, bool exifIfd = true) {
    std::string t(256, '\0');
    auto p16 = [&](size_t o, uint32_t v) {
        t[o + (big ? 0 : 1)] = char(v >> 8);
        t[o + (big ? 1 : 0)] = char(v);
    };
    auto p32 = [&](size_t o, uint32_t v) {
        for (int i = 0; i < 4; ++i) t[o + (big ? 3 - i : i)] = char(v >> (8 * i));
    };
    auto entry = [&](size_t o, uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        p16(o, tag), p16(o + 2, type), p32(o + 4, count);
        if (type == 3 && count == 1) p16(o + 8, value); else p32(o + 8, value);
    };
    t[0] = t[1] = big ? 'M' : 'I';
    p16(2, 42), p32(4, 8);
    p16(8, exifIfd ? 2 : 1);  // IFD0 at 8
    entry(10, 0x010F, 2, 7, 40);
    if (exifIfd) entry(22, 0x8769, 4, 1, 48);
    p32(exifIfd ? 34 : 22, 100);  // IFD1
    std::memcpy(&t[40], "Camera", 7);
    const int n = pixelTags ? 3 : 1;  // Exif directory at 48
    p16(48, n);
    entry(50, 0x829A, 5, 1, 92);
    if (pixelTags) entry(62, 0xA002, 3, 1, 800), entry(74, 0xA003, 3, 1, 600);
    p32(50 + 12 * n, 0);
    p32(92, 1), p32(96, 125);
    p16(100, 2);  // IFD1 at 100, thumbnail at 140
    entry(102, 0x0201, 4, 1, 140);
    entry(114, 0x0202, 4, 1, 16);
    p32(126, 0);
    std::memcpy(&t[140], "\xFF\xD8THUMBNAILxx\xFF\xD9", 16);
    t.resize(156);
    return std::string("Exif\0\0", 6) + t;
}

const std::string XMP_ID = std::string("http://ns.adobe.com/xap/1.0/\0", 29);

// An XMP packet with these properties inside one description.
std::string XmpPacket(const std::string& properties) {
    return XMP_ID + "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' "
                    "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:exif='http://ns.adobe.com/exif/1.0/' " +
           properties + "/></rdf:RDF></x:xmpmeta>";
}

const std::string XMP = XmpPacket("dc:format='image/jpeg'");

// A profile's bytes, its header naming the colour space (bytes 16 to 19):
// around bytes no reader looks at, a header that holds together (its own
// length, version 2.1, a display's, XYZ, the signature, no tags).
std::string FakeProfile(size_t n, const char* space = "RGB ") {
    std::string icc(n, '\0');
    for (size_t i = 0; i < n; ++i) icc[i] = char(i * 7 + i / 251);
    for (int i = 0; i < 4; ++i) icc[i] = char(n >> (24 - 8 * i));
    icc.replace(8, 8, std::string("\x02\x10\0\0mntr", 8));
    icc.replace(16, 8, std::string(space) + "XYZ ");
    icc.replace(36, 4, "acsp");
    icc.replace(128, 4, std::string(4, '\0'));
    return icc;
}

std::vector<Segment> IccSegments(const std::string& icc) {
    std::vector<Segment> list;
    const size_t chunk = 65519, count = (icc.size() + chunk - 1) / chunk;
    for (size_t i = 0; i < count; ++i)
        list.push_back({0xE2, std::string("ICC_PROFILE\0", 12) + char(i + 1) + char(count) + icc.substr(i * chunk, chunk)});
    return list;
}

// A decode without smoothing: each pixel then depends only on its own block,
// so a cut decodes to exactly the source's pixels there.
Decoded DecodeBlocky(const std::string& path) {
    Decoded d;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return d;
    jpeg_decompress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    jpeg_read_header(&c, TRUE);
    c.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&c);
    d.width = int(c.output_width), d.height = int(c.output_height), d.components = c.output_components;
    d.pixels.resize(size_t(d.width) * d.height * d.components);
    while (c.output_scanline < c.output_height) {
        JSAMPROW row = &d.pixels[size_t(c.output_scanline) * d.width * d.components];
        jpeg_read_scanlines(&c, &row, 1);
    }
    jpeg_finish_decompress(&c);
    jpeg_destroy_decompress(&c);
    std::fclose(f);
    return d;
}

class ExportExtrasTest : public ::testing::Test {
protected:
    void SetUp() override { storage.Folder("out"); }
    std::string Out(const char* name = "out/a.jpg") const { return storage.Host(name); }
    // src.jpg's frame written to out/a.jpg, decoded or cut; what was warned.
    std::vector<std::string> WriteKeeping(bool lossless, const CRect& crop, ExportExtras extras) {
        std::vector<std::string> warnings;
        extras.warnings = &warnings;
        LosslessCut cut;
        std::string error;
        EXPECT_EQ(lossless ? ExportLossless(L"\\src.jpg", L"\\out\\a.jpg", crop, extras, cut, error)
                           : ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", crop, quiet, ExportLevels(curve).Table(), 95, extras),
                  1)
            << error;
        return warnings;
    }
    TempStorage storage;
    ToneCurve curve;
    NullProgressSink quiet;
};

TEST_F(ExportExtrasTest, EncoderOnItsOwnThreadWritesTheSameBytes) {
    const JpegRecipe recipes[] = {{1600, 1200}, {1000, 800, 2, 1, false, 0, 90, Colour::CmykAdobe}, {901, 700, 1, 1, true}};
    const CRect crops[] = {{0, 0, 1600, 1200}, {101, 49, 1299, 850}, {3, 5, 700, 22}, {0, 0, 1, 15}, {7, 0, 8, 600}};
    ApplyPreset(curve, *FindPresetByIndex(3));
    for (const JpegRecipe& recipe : recipes) {
        WriteFile(storage.Host("src.jpg"), EncodeJpeg(recipe));
        for (CRect crop : crops) {
            crop.right = std::min(crop.right, recipe.width);
            crop.bottom = std::min(crop.bottom, recipe.height);
            for (ToneCurve* tone : {static_cast<ToneCurve*>(nullptr), &curve}) {
                ToneCurve identity;
                ToneCurve& c = tone ? *tone : identity;
                ASSERT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\one.jpg", crop, quiet, c, 95), 1);
                for (int from : {0, 5}) {
                    SCOPED_TRACE(testing::Message() << recipe.width << " crop " << crop.left << "," << crop.top << ","
                                                    << crop.right << "," << crop.bottom << " from " << from);
                    Cores cores(from);
                    ExportExtras extras;
                    extras.cores = &cores;
                    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\two.jpg", crop, quiet, ExportLevels(c).Table(), 95, extras), 1);
                    EXPECT_TRUE(ReadFile(Out("out/one.jpg")) == ReadFile(Out("out/two.jpg")));
                    EXPECT_EQ(cores.claimed, cores.released);
                    EXPECT_EQ(cores.claimed > 0, crop.Height() > 16 * (from + 1));
                }
            }
        }
    }
}

// The pixels of a photograph on a white print, rows without gaps.
std::vector<uint8_t> OnWhite(const std::vector<uint8_t>& rgb, int w, int h, const WhiteMargins& m) {
    const int pw = w + m.left + m.right, ph = h + m.top + m.bottom;
    std::vector<uint8_t> print(size_t(pw) * ph * 3, 255);
    for (int y = 0; y < h; ++y)
        std::memcpy(&print[(size_t(y + m.top) * pw + m.left) * 3], &rgb[size_t(y) * w * 3], size_t(w) * 3);
    return print;
}

// The whole photograph on white is what a plain encoder makes of the print's
// pixels: the photograph upright and through the curve, the white untouched
// by it (Invert would blacken it), streamed or buffered, on one thread or
// two, with the white above, below or beside.
TEST_F(ExportExtrasTest, TheWholePhotographOnWhiteIsAPlainEncodeOfThePrint) {
    ApplyPreset(curve, *FindPresetByName("Invert"));
    curve.UpdateLut();
    struct Case {
        JpegRecipe recipe;
        int tag;  // EXIF Orientation; 1: none
        WhiteMargins margins;
        bool tone;
        int from;  // a core from the n-th question; -1: one thread
    };
    const Case cases[] = {
        {{1600, 1000}, 1, {0, 137, 0, 138}, false, -1},
        {{1600, 1000}, 1, {0, 137, 0, 138}, true, 0},
        {{901, 700, 1, 1, true}, 1, {75, 0, 76, 0}, true, 3},
        {{1000, 801, 2, 1}, 2, {3, 40, 2, 39}, true, -1},  // mirrored: streamed, each row reversed
        {{800, 1000}, 6, {0, 21, 0, 20}, true, 0},          // on its side: buffered
        {{800, 1000}, 8, {1, 0, 0, 0}, false, -1},
        {{817, 603}, 3, {0, 0, 0, 1}, true, 2},
        {{1000, 800, 2, 1, false, 0, 90, Colour::CmykAdobe}, 1, {0, 64, 0, 64}, true, -1},  // four bytes a pixel
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.recipe.width << "x" << c.recipe.height << " tag " << c.tag << " margins "
                                        << c.margins.left << "," << c.margins.top << "," << c.margins.right << ","
                                        << c.margins.bottom << " tone " << c.tone << " from " << c.from);
        std::string jpeg = EncodeJpeg(c.recipe);
        if (c.tag != 1) jpeg = WithExif(jpeg, OrientationTiff(c.tag));
        WriteFile(storage.Host("src.jpg"), jpeg);
        const bool cmyk = c.recipe.colour == Colour::CmykAdobe;
        const Decoded stored = DecodeFully(storage.Host("src.jpg"), cmyk);
        std::vector<uint8_t> upright = TurnUpright(cmyk ? CmykPixelsToRgb(stored.pixels, true) : stored.pixels,
                                                   stored.width, stored.height, c.tag);
        const bool across = c.tag >= 5;
        const int w = across ? stored.height : stored.width, h = across ? stored.width : stored.height;
        if (c.tone)
            for (uint8_t& v : upright) v = static_cast<uint8_t>(curve.m_lut[v]);

        ToneCurve identity;
        Cores cores(c.from);
        ExportExtras extras;
        extras.whiteMargins = c.margins;
        if (c.from >= 0) extras.cores = &cores;
        ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, w, h), quiet,
                                        ExportLevels(c.tone ? curve : identity).Table(), 95, extras),
                  1);
        const std::vector<uint8_t> print = OnWhite(upright, w, h, c.margins);
        const int pw = w + c.margins.left + c.margins.right, ph = h + c.margins.top + c.margins.bottom;
        EXPECT_TRUE(ReadFile(Out()) == EncodePlain(print.data(), pw, ph, 95)) << "not the print's plain encode";
        EXPECT_EQ(cores.claimed, cores.released);
        if (c.from >= 0) {
            EXPECT_GT(cores.claimed, 0);
        }
    }
}

// A print no JPEG can hold is refused before anything is written.
TEST_F(ExportExtrasTest, AWholePrintLargerThanAJpegIsRefused) {
    WriteFile(storage.Host("src.jpg"), EncodeJpeg({1000, 800}));
    WriteFile(Out(), "precious");
    ExportExtras extras;
    extras.whiteMargins = {0, 32400, 0, 32301};  // 65501 rows
    PhotoReport report;
    EXPECT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, 1000, 800), quiet,
                                    ExportLevels(curve).Table(), 95, extras, &report),
              0);
    EXPECT_EQ(report.failure, PhotoReport::Failure::PrintTooLarge);
    EXPECT_EQ(ReadFile(Out()), "precious");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.Host("out")), {}), 1);
    extras.whiteMargins = {0, 32400, 0, 32300};  // 65500: the most a JPEG has
    EXPECT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, 1000, 800), quiet,
                                    ExportLevels(curve).Table(), 95, extras),
              1);
}

TEST_F(ExportExtrasTest, EncoderThreadFailingHalfWayLeavesTheOldFile) {
    // Upright, the encoder's thread writes; turned, this thread writes what
    // the other one computes.
    for (const int tag : {1, 6}) {
        for (const long limit : {700L, 100000L, 400000L}) {
            SCOPED_TRACE(tag);
            WriteFile(storage.Host("src.jpg"), WithExif(EncodeJpeg({1600, 1200}), OrientationTiff(tag)));
            WriteFile(Out(), "precious");
            const CRect frame = tag == 1 ? CRect(0, 0, 1600, 1200) : CRect(0, 0, 1200, 1600);
            const int status = ExitStatusWithFileLimit(limit, [&] {
                Cores cores;
                ExportExtras extras;
                extras.cores = &cores;
                NullProgressSink sink;
                const int ok = ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", frame, sink,
                                                     ExportLevels(curve).Table(), 95, extras);
                // Upright, 700 bytes fail before the encoder has moved, the
                // others after; turned, the second decoder and the split
                // encoder have both started before anything is written.
                const int claims = tag == 1 ? (limit > 700) : 2;
                return ok == 0 && cores.claimed == claims && cores.released == cores.claimed ? 42 : 1;
            });
            EXPECT_EQ(status, 42) << limit;
            EXPECT_EQ(ReadFile(Out()), "precious");
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.Host("out")), {}), 1);
        }
    }
}

// Both ways of writing, both byte orders: the profile, XMP and EXIF arrive,
// EXIF with the new pixel size and without its thumbnail; the density is
// recorded; the pixels are those of an export without any of it.
TEST_F(ExportExtrasTest, MetadataAndDensityReachTheNewFile) {
    const std::string icc = FakeProfile(70000);  // two markers
    for (bool big : {false, true}) {
        for (bool lossless : {false, true}) {
            SCOPED_TRACE(testing::Message() << "big " << big << " lossless " << lossless);
            std::vector<Segment> add = {{0xE1, CameraExif(big)}, {0xE1, XMP}, {0xFE, "comment"}};
            for (const Segment& s : IccSegments(icc)) add.push_back(s);
            WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg({1000, 800}), add));
            const CRect crop(32, 16, 932, 616);
            ExportExtras extras;
            extras.keepMetadata = true;
            extras.recordDpi = 300;
            const std::vector<std::string> warnings = WriteKeeping(lossless, crop, extras);
            EXPECT_TRUE(warnings.empty());
            const std::string file = ReadFile(Out());
            const auto list = HeaderSegments(file);
            const std::string jfif = Find(list, 0xE0, std::string("JFIF\0", 5));
            ASSERT_GE(jfif.size(), 12u);
            EXPECT_EQ(jfif[7], 1);                                   // dots per inch
            EXPECT_EQ(jfif.substr(8, 4), std::string("\x01\x2C\x01\x2C", 4));  // 300 x 300
            EXPECT_EQ(Find(list, 0xE1, "http://ns.adobe.com/xap/1.0/"), XMP);
            EXPECT_TRUE(IccOf(list) == icc);
            EXPECT_EQ(Find(list, 0xFE, ""), "");
            const ExifView exif(Find(list, 0xE1, "Exif"));
            ASSERT_TRUE(exif.ok);
            EXPECT_EQ(exif.big, big);
            EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA002), 900u);
            EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA003), 600u);
            EXPECT_EQ(exif.Bytes(exif.Ifd0(), 0x010F), std::string("Camera\0", 7));
            EXPECT_EQ(exif.Bytes(exif.ExifIfd(), 0x829A).size(), 8u);
            EXPECT_EQ(exif.Next(exif.Ifd0()), 0u);
            EXPECT_EQ(file.find("THUMBNAIL"), std::string::npos);

            WriteFile(storage.Host("plain.jpg"), EncodeJpeg({1000, 800}));
            ExportExtras none;
            LosslessCut cut;
            std::string error;
            ASSERT_EQ(lossless ? ExportLossless(L"\\plain.jpg", L"\\out\\b.jpg", crop, none, cut, error)
                               : ExportFramedImage(L"\\plain.jpg", L"\\out\\b.jpg", crop, quiet, curve, 95),
                      1);
            EXPECT_TRUE(DecodeFully(Out(), false).pixels == DecodeFully(Out("out/b.jpg"), false).pixels);
            for (const Segment& s : HeaderSegments(ReadFile(Out("out/b.jpg"))))
                EXPECT_FALSE((s.marker > 0xE0 && s.marker <= 0xEF) || s.marker == 0xFE) << s.marker;
        }
    }
    // The profile alone.
    ExportExtras profile;
    profile.keepProfile = true;
    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, 900, 600), quiet, ExportLevels(curve).Table(), 95, profile), 1);
    const auto list = HeaderSegments(ReadFile(Out()));
    EXPECT_TRUE(IccOf(list) == icc);
    EXPECT_EQ(Find(list, 0xE1, ""), "");
    EXPECT_EQ(Find(list, 0xE0, std::string("JFIF\0", 5))[7], 0);  // no unit, as always
}

// A camera that left the pixel size out, or the whole Exif directory, gets it
// added; a record whose offsets lead anywhere is dropped, never followed.
TEST_F(ExportExtrasTest, ExifIsRepairedOrDroppedNeverTrusted) {
    for (bool big : {false, true}) {
        for (bool exifIfd : {true, false}) {
            std::vector<JOCTET> payload;
            const std::string source = CameraExif(big, false, exifIfd);
            payload.assign(source.begin(), source.end());
            std::string problem;
            ASSERT_TRUE(FixExifForOutput(payload, 70000, 4000, problem)) << problem;
            const ExifView exif(std::string(payload.begin(), payload.end()));
            EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA002), 70000u);
            EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA003), 4000u);
            EXPECT_EQ(exif.Bytes(exif.Ifd0(), 0x010F), std::string("Camera\0", 7));
            if (exifIfd) {
                EXPECT_EQ(exif.Bytes(exif.ExifIfd(), 0x829A).size(), 8u);
            }
        }
        // Cut short anywhere, or with bytes changed at random: never a read
        // outside the record, and whatever is accepted reads back right.
        const std::string good = CameraExif(big);
        std::mt19937 random(big ? 7 : 11);
        for (int round = 0; round < 4000; ++round) {
            std::string bad = good;
            if (round < int(good.size())) {
                bad.resize(size_t(round));
            } else {
                for (int k = 0; k < 3; ++k) bad[6 + random() % (bad.size() - 6)] = char(random());
            }
            std::vector<JOCTET> payload(bad.begin(), bad.end());
            std::string problem;
            if (FixExifForOutput(payload, 1234, 567, problem)) {
                const ExifView exif(std::string(payload.begin(), payload.end()));
                EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA002), 1234u) << round;
                EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA003), 567u) << round;
            } else {
                EXPECT_FALSE(problem.empty());
            }
        }
    }
    // Through the export: a warning, and the file without EXIF.
    std::string broken = CameraExif(false);
    broken[6 + 4] = char(0xF0);  // IFD0 far outside
    WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg({1000, 800}), {{0xE1, broken}, {0xE1, XMP}}));
    std::vector<std::string> warnings;
    ExportExtras extras;
    extras.keepMetadata = true;
    extras.warnings = &warnings;
    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, 900, 600), quiet, ExportLevels(curve).Table(), 95, extras), 1);
    EXPECT_EQ(warnings, std::vector<std::string>{"its EXIF record is damaged; left out"});
    const auto list = HeaderSegments(ReadFile(Out()));
    EXPECT_EQ(Find(list, 0xE1, "Exif"), "");
    EXPECT_EQ(Find(list, 0xE1, "http://ns.adobe.com/xap/1.0/"), XMP);
}

// The cut holds the source's own blocks: decoded without smoothing it is
// pixel for pixel the source's aligned rectangle, and it decodes like
// jpegtran's cut of the same rectangle.
TEST_F(ExportExtrasTest, LosslessCutIsTheSourcesAlignedRectangle) {
    struct Case {
        JpegRecipe recipe;
        int gridX, gridY;
    };
    const Case cases[] = {{{1000, 800, 2, 2}, 16, 16},
                          {{1000, 800, 2, 1, true}, 16, 8},
                          {{1000, 800, 1, 1}, 8, 8},
                          {{1000, 800, 2, 2, false, 0, 90, Colour::Grey}, 8, 8}};
    const bool haveJpegtran = std::system("command -v jpegtran >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gridX * 100 + c.gridY);
        WriteFile(storage.Host("src.jpg"), EncodeJpeg(c.recipe));
        const CRect crop(37, 23, 37 + 601, 23 + 399);
        LosslessCut cut;
        std::string error;
        ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\a.jpg", crop, ExportExtras(), cut, error), 1) << error;
        const int left = 37 / c.gridX * c.gridX, top = 23 / c.gridY * c.gridY;
        EXPECT_EQ(cut.written, CRect(left, top, left + 601, top + 399));
        EXPECT_EQ(cut.shiftX, 37 - left);
        EXPECT_EQ(cut.shiftY, 23 - top);
        EXPECT_FALSE(cut.clipped);
        EXPECT_GT(cut.coefficientBytes, 1000ul * 800 * 2);

        const Decoded source = DecodeBlocky(storage.Host("src.jpg")), out = DecodeBlocky(Out());
        ASSERT_EQ(out.width, 601);
        ASSERT_EQ(out.height, 399);
        const int n = source.components;
        bool same = true;
        for (int y = 0; y < 399 && same; ++y)
            same = std::memcmp(&out.pixels[size_t(y) * 601 * n], &source.pixels[(size_t(y + top) * 1000 + left) * n],
                               size_t(601) * n) == 0;
        EXPECT_TRUE(same);
        if (haveJpegtran) {
            const std::string command = "jpegtran -copy none -crop 601x399+" + std::to_string(left) + "+" +
                                        std::to_string(top) + " -outfile '" + Out("out/t.jpg") + "' '" +
                                        storage.Host("src.jpg") + "'";
            ASSERT_EQ(std::system(command.c_str()), 0);
            EXPECT_TRUE(DecodeFully(Out(), false).pixels == DecodeFully(Out("out/t.jpg"), false).pixels);
        }
    }
    // A frame outside the photograph is refused, and nothing is written.
    LosslessCut cut;
    std::string error;
    EXPECT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\c.jpg", CRect(500, 0, 1001, 10), ExportExtras(), cut, error), 0);
    EXPECT_FALSE(std::filesystem::exists(Out("out/c.jpg")));

    // A photograph cut short: copied with a warning, or refused when strict;
    // a folder is refused without blocking.
    const std::string whole = EncodeJpeg({1000, 800});
    WriteFile(storage.Host("short.jpg"), whole.substr(0, whole.size() / 2));
    std::vector<std::string> warnings;
    ExportExtras extras;
    extras.warnings = &warnings;
    EXPECT_EQ(ExportLossless(L"\\short.jpg", L"\\out\\c.jpg", CRect(0, 0, 900, 600), extras, cut, error), 1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("damaged data copied as it is: ", 0), 0u) << warnings[0];
    extras.strict = true;
    EXPECT_EQ(ExportLossless(L"\\short.jpg", L"\\out\\d.jpg", CRect(0, 0, 900, 600), extras, cut, error), 0);
    EXPECT_FALSE(std::filesystem::exists(Out("out/d.jpg")));
    EXPECT_EQ(ExportLossless(L"\\out", L"\\out\\d.jpg", CRect(0, 0, 900, 600), extras, cut, error), 0);
    EXPECT_EQ(error, "a folder, not a photograph");
}

// ----- kept metadata read back by the tools labs and photo programs use

// What a command prints on both streams; "" when it cannot run.
std::string Output(const std::string& command) {
    std::string text;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
        pclose(p);
    }
    return text;
}

// exiftool -validate's complaints other than about tags a camera would add
// (ComponentsConfiguration and the like): damaged directories, offsets,
// entry counts, formats.
std::string StructureWarnings(const std::string& file) {
    std::string found;
    std::istringstream lines(Output("exiftool -validate -warning -a '" + file + "'"));
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("Warning", 0) == 0 && line.find("Missing required") == std::string::npos &&
            line.find("is not allowed in JPEG") == std::string::npos)
            found += line + "\n";
    return found;
}

bool HaveTools() { return std::system("command -v exiftool >/dev/null && command -v exiv2 >/dev/null") == 0; }

// A turned camera's EXIF: IFD0 with the stored size, Orientation 6, 72 dpi
// and the Exif pointer; an Exif directory whose Interop pointer leads into
// its own pixel-size entry (PixelXDimension 1 read as a directory of one
// entry), so that patching the size in place would turn that entry count
// into the new width; IFD1 and a thumbnail.
std::string TurnedCameraExif(bool big) {
    std::string t(286, '\0');
    auto p16 = [&](size_t o, uint32_t v) {
        t[o + (big ? 0 : 1)] = char(v >> 8);
        t[o + (big ? 1 : 0)] = char(v);
    };
    auto p32 = [&](size_t o, uint32_t v) {
        for (int i = 0; i < 4; ++i) t[o + (big ? 3 - i : i)] = char(v >> (8 * i));
    };
    auto entry = [&](size_t o, uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        p16(o, tag), p16(o + 2, type), p32(o + 4, count);
        if (type == 3 && count == 1) p16(o + 8, value); else p32(o + 8, value);
    };
    t[0] = t[1] = big ? 'M' : 'I';
    p16(2, 42), p32(4, 8);
    p16(8, 8);  // IFD0
    entry(10, 0x0100, 4, 1, 1000);
    entry(22, 0x0101, 4, 1, 800);
    entry(34, 0x010F, 2, 7, 200);
    entry(46, 0x0112, 3, 1, 6);
    entry(58, 0x011A, 5, 1, 208);
    entry(70, 0x011B, 5, 1, 216);
    entry(82, 0x0128, 3, 1, 2);
    entry(94, 0x8769, 4, 1, 120);
    p32(106, 232);  // IFD1
    p16(120, 5);    // Exif directory
    entry(122, 0x829A, 5, 1, 224);
    entry(134, 0x9000, 7, 4, 0);
    std::memcpy(&t[142], "0231", 4);
    entry(146, 0xA002, 3, 1, 1);
    entry(158, 0xA003, 3, 1, 800);
    entry(170, 0xA005, 4, 1, 154);  // the value of PixelXDimension
    p32(182, 0);
    std::memcpy(&t[200], "Camera", 7);
    p32(208, 72), p32(212, 1), p32(216, 72), p32(220, 1), p32(224, 1), p32(228, 125);
    p16(232, 2);  // IFD1, thumbnail at 270
    entry(234, 0x0201, 4, 1, 270);
    entry(246, 0x0202, 4, 1, 16);
    p32(258, 0);
    std::memcpy(&t[270], "\xFF\xD8THUMBNAILxx\xFF\xD9", 16);
    return std::string("Exif\0\0", 6) + t;
}

// Written both ways, from both byte orders, with and without an Exif
// directory in the source: exiftool and exiv2 read the new file's size, an
// upright Orientation and the recorded resolution in EXIF and XMP alike, no
// thumbnail, and find nothing wrong with the directories. A cut coded in RGB
// or CMYK has no JFIF header: a small EXIF record of its own carries the dpi.
TEST_F(ExportExtrasTest, KeptMetadataAgreesWithTheWrittenFile) {
    if (!HaveTools()) GTEST_SKIP() << "exiftool and exiv2 are needed (scripts/install-deps.sh)";
    const std::string xmp = XmpPacket(
        "tiff:Orientation='6' tiff:ImageWidth='1000' tiff:ImageLength='800' tiff:XResolution='72/1' "
        "tiff:YResolution='72/1' tiff:ResolutionUnit='2' exif:PixelXDimension='1000' exif:PixelYDimension='800'");
    struct Case {
        bool big, lossless, exifIfd, keep = true;
        Colour colour = Colour::YCbCr;
    };
    const Case cases[] = {{false, false, true},      {true, false, true},
                          {false, true, true},       {true, true, true},
                          {false, false, false},     {true, true, false},
                          {false, true, true, false, Colour::Rgb}, {false, true, true, true, Colour::Rgb},
                          {true, true, true, false, Colour::CmykAdobe}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "big " << c.big << " lossless " << c.lossless << " exif " << c.exifIfd
                                        << " keep " << c.keep << " colour " << int(c.colour));
        const std::string exif = c.exifIfd ? TurnedCameraExif(c.big) : CameraExif(c.big, false, false);
        // Stored on its side where the EXIF says so: 1000 x 800 upright either way.
        JpegRecipe recipe = c.exifIfd ? JpegRecipe{800, 1000} : JpegRecipe{1000, 800};
        recipe.colour = c.colour;
        WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg(recipe), {{0xE1, exif}, {0xE1, xmp}}));
        const CRect crop(32, 16, 932, 616);
        ExportExtras extras;
        extras.keepMetadata = c.keep;
        extras.recordDpi = 137;
        const std::vector<std::string> warnings = WriteKeeping(c.lossless, crop, extras);
        EXPECT_TRUE(warnings.empty()) << warnings[0];
        const std::string file = "'" + Out() + "'";
        const std::string json = Output("exiftool -j -a -G1 -n " + file);
        std::vector<std::string> expected = {"\"ExifIFD:ExifImageWidth\": 900,", "\"ExifIFD:ExifImageHeight\": 600,",
                                             "\"IFD0:XResolution\": 137,",       "\"IFD0:YResolution\": 137,",
                                             "\"IFD0:ResolutionUnit\": 2,"};
        if (c.colour == Colour::YCbCr) expected.push_back("\"JFIF:XResolution\": 137,");
        if (c.keep)
            expected.insert(expected.end(), {"\"IFD0:Make\": \"Camera\",", "\"XMP-tiff:XResolution\": 137,",
                                             "\"XMP-tiff:Orientation\": 1,", "\"XMP-exif:ExifImageWidth\": 900,",
                                             "\"XMP-tiff:ImageHeight\": 600,"});
        if (c.keep && c.exifIfd)
            expected.insert(expected.end(), {"\"IFD0:Orientation\": 1,", "\"IFD0:ImageWidth\": 900,",
                                             "\"IFD0:ImageHeight\": 600,"});
        if (!c.keep || !c.exifIfd) expected.push_back("\"ExifIFD:ExifVersion\": \"0232\"");
        for (const std::string& e : expected) EXPECT_NE(json.find(e), std::string::npos) << e << "\n" << json;
        EXPECT_EQ(json.find("IFD1:"), std::string::npos) << json;
        EXPECT_EQ(ReadFile(Out()).find("THUMBNAIL"), std::string::npos);

        EXPECT_EQ(StructureWarnings(Out()), "");
        const std::string listing = Output("exiv2 -pa " + file);
        for (const char* word : {"considered invalid", "Warning", "Error"})
            EXPECT_EQ(listing.find(word), std::string::npos) << listing;
        EXPECT_NE(listing.find("Exif.Photo.PixelXDimension                   Long        1  900"), std::string::npos)
            << listing;
    }
}

// A profile goes only onto pixels of its own colour space: the decoding
// export writes RGB whatever the source, the lossless cut the source's own
// space. A profile that does not fit is left out with a warning saying so.
TEST_F(ExportExtrasTest, ProfileGoesOnlyOntoPixelsOfItsColourSpace) {
    struct Case {
        Colour colour;
        bool lossless;
        const char* space;
        bool kept;
    };
    const Case cases[] = {
        {Colour::YCbCr, false, "RGB ", true},      {Colour::YCbCr, false, "CMYK", false},
        {Colour::YCbCr, true, "GRAY", false},      {Colour::Grey, false, "GRAY", false},
        {Colour::Grey, true, "GRAY", true},        {Colour::Grey, true, "RGB ", false},
        {Colour::CmykAdobe, false, "CMYK", false}, {Colour::CmykAdobe, false, "RGB ", true},
        {Colour::CmykAdobe, true, "CMYK", true},   {Colour::Ycck, true, "RGB ", false},
        {Colour::Rgb, true, "RGB ", true},         {Colour::YCbCr, false, "Lab ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colour) << " lossless " << c.lossless << " " << c.space);
        const std::string icc = FakeProfile(600, c.space);
        JpegRecipe recipe{1000, 800};
        recipe.colour = c.colour;
        WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg(recipe), IccSegments(icc)));
        const CRect crop(0, 0, 640, 480);
        ExportExtras extras;
        extras.keepProfile = true;
        const std::vector<std::string> warnings = WriteKeeping(c.lossless, crop, extras);
        EXPECT_EQ(IccOf(HeaderSegments(ReadFile(Out()))) == icc, c.kept);
        if (c.kept) {
            EXPECT_TRUE(warnings.empty());
        } else {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].rfind("its colour profile is for ", 0), 0u) << warnings[0];
            EXPECT_NE(warnings[0].find("; left out"), std::string::npos) << warnings[0];
        }
    }
    // Damaged XMP goes with a warning; the rest stays.
    WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg({1000, 800}),
                                                    {{0xE1, CameraExif(false)}, {0xE1, XMP_ID + "<x:xmpmeta>cut sh"}}));
    std::vector<std::string> warnings;
    ExportExtras extras;
    extras.keepMetadata = true;
    extras.warnings = &warnings;
    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", CRect(0, 0, 900, 600), quiet, ExportLevels(curve).Table(), 95, extras), 1);
    EXPECT_EQ(warnings, std::vector<std::string>{"its XMP packet cannot be read; left out"});
    const auto list = HeaderSegments(ReadFile(Out()));
    EXPECT_EQ(Find(list, 0xE1, "http://ns.adobe.com/xap/1.0/"), "");
    EXPECT_TRUE(ExifView(Find(list, 0xE1, "Exif")).ok);
}

// Written from a record without an Exif directory, or from none (a cut coded
// in RGB records its dpi in a record of its own): the directory made holds
// every tag EXIF asks of a JPEG's, and the validator finds nothing at all to
// say about the new file.
TEST_F(ExportExtrasTest, AMadeExifDirectoryLeavesNothingToValidate) {
    if (!HaveTools()) GTEST_SKIP() << "exiftool and exiv2 are needed (scripts/install-deps.sh)";
    struct Case {
        bool big, lossless, keep;
        Colour colour;
    };
    const Case cases[] = {{false, false, true, Colour::YCbCr},
                          {true, true, true, Colour::YCbCr},
                          {false, true, false, Colour::Rgb}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "big " << c.big << " lossless " << c.lossless << " keep " << c.keep);
        JpegRecipe recipe{1000, 800};
        recipe.colour = c.colour;
        WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg(recipe), {{0xE1, CameraExif(c.big, false, false)}}));
        ExportExtras extras;
        extras.keepMetadata = c.keep;
        extras.recordDpi = 137;
        EXPECT_EQ(WriteKeeping(c.lossless, CRect(32, 16, 932, 616), extras), std::vector<std::string>{});
        const std::string said = Output("exiftool -validate -warning -a '" + Out() + "'");
        EXPECT_EQ(said.find("Warning"), std::string::npos) << said;
        const std::string json = Output("exiftool -j -G1 -n -ComponentsConfiguration -ColorSpace '" + Out() + "'");
        EXPECT_NE(json.find(c.colour == Colour::Rgb ? "\"4 5 6 0\"" : "\"1 2 3 0\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"ExifIFD:ColorSpace\": 1"), std::string::npos) << json;
    }
}

// A little-endian record: IFD0 with Make and the Exif pointer, and an Exif
// directory of these UNDEFINED tags, in ascending order.
std::string ExifHolding(const std::vector<std::pair<uint16_t, std::string>>& tags) {
    std::string t;
    auto u16 = [&](uint32_t v) { t += {char(v), char(v >> 8)}; };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
        u16(tag), u16(type), u32(count), u32(value);
    };
    t = "II";
    u16(42), u32(8);
    u16(2);
    entry(0x010F, 2, 7, 38);
    entry(0x8769, 4, 1, 46);
    u32(0);
    t += std::string("Camera\0\0", 8);  // at 38
    uint32_t data = 46 + 2 + 12 * uint32_t(tags.size()) + 4;
    u16(uint32_t(tags.size()));
    for (const auto& [tag, bytes] : tags) {
        entry(tag, 7, uint32_t(bytes.size()), data);
        data += uint32_t(bytes.size());
    }
    u32(0);
    for (const auto& tag : tags) t += tag.second;
    return std::string("Exif\0\0", 6) + t;
}

// The record in as many markers as it takes, each after the first going on
// where the one before stopped, as exiftool writes one too large for one.
std::vector<Segment> ExifSegments(const std::string& payload) {
    std::vector<Segment> list;
    constexpr size_t ROOM = 65533 - 6;
    for (size_t at = 6; at < payload.size(); at += ROOM)
        list.push_back({0xE1, payload.substr(0, 6) + payload.substr(at, ROOM)});
    return list;
}

// A record too large for the one marker EXIF has loses its maker note
// first; a tag that still does not fit is named in a warning. exiv2's
// encoder alone drops them all without a word, and a record spread over two
// markers lost what lay in the second.
TEST_F(ExportExtrasTest, ATagTooLargeForTheMarkerIsKeptOrNamed) {
    struct Case {
        size_t comment, makerNote;
        bool lossless;
        const char* said;  // in the one warning, or none
    };
    const Case cases[] = {{65400, 0, false, "EXIF tag UserComment (65400 bytes)"},
                          {65400, 0, true, "EXIF tag UserComment (65400 bytes)"},
                          {65600, 0, false, "EXIF tag UserComment (65600 bytes)"},
                          {65600, 0, true, "EXIF tag UserComment (65600 bytes)"},
                          {39800, 25600, false, "EXIF maker note"},
                          {39800, 25600, true, "EXIF maker note"},
                          {60000, 0, false, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.comment << " " << c.makerNote << " lossless " << c.lossless);
        const std::string comment = std::string("ASCII\0\0\0", 8) + std::string(c.comment - 8, 'c');
        std::vector<std::pair<uint16_t, std::string>> tags;
        if (c.makerNote) tags.push_back({0x927C, std::string(c.makerNote, 'm')});
        tags.push_back({0x9286, comment});
        WriteFile(storage.Host("src.jpg"), WithSegments(EncodeJpeg({1000, 800}), ExifSegments(ExifHolding(tags))));
        ExportExtras extras;
        extras.keepMetadata = true;
        extras.recordDpi = 137;
        const std::vector<std::string> warnings = WriteKeeping(c.lossless, CRect(0, 0, 960, 640), extras);
        const ExifView exif(Find(HeaderSegments(ReadFile(Out())), 0xE1, "Exif"));
        ASSERT_TRUE(exif.ok);
        const bool commentKept = exif.Bytes(exif.ExifIfd(), 0x9286) == comment;
        EXPECT_EQ(exif.Number(exif.ExifIfd(), 0xA002), 960u);
        EXPECT_EQ(exif.Bytes(exif.ExifIfd(), 0x927C), "");
        if (!c.said) {
            EXPECT_TRUE(warnings.empty()) << warnings[0];
            EXPECT_TRUE(commentKept);
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find(c.said), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("; left out"), std::string::npos) << warnings[0];
        EXPECT_EQ(commentKept, c.makerNote != 0);
    }
}

}  // namespace

