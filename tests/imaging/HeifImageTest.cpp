// HEIF photographs made on the spot, by libheif's encoder (for the
// properties heif-enc cannot write: irot/imir, nclx, ICC, 10 bits, alpha)
// and by heif-enc itself, each compared with the pixels it was made from.
#include "imaging/HeifImage.h"
#include "imaging/HevcDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>
#include <lcms2.h>
#include <libheif/heif.h>

#include "TestHeif.h"
#include "TestJpeg.h"
#include "TurnedJpeg.h"
#include "platform/DeviceFs.h"

namespace {

namespace fs = std::filesystem;

class HeifImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("heif-test-" + std::to_string(::getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
        devfs::SetStorageRoot(m_dir.string());
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    bool Write(const HeifRecipe& s, const std::vector<uint8_t>& rgb, const std::string& name) {
        return WriteTestHeif(s, rgb, Path(name));
    }

    // Opens and decodes; every row, top to bottom.
    std::vector<uint8_t> DecodeAll(const std::string& name, HeifImage& image) {
        std::string reason;
        EXPECT_TRUE(image.Open(Device(name), HeifLimits(), reason))
            << reason;
        EXPECT_TRUE(image.Decode(reason)) << reason;
        std::vector<uint8_t> out;
        while (const uint8_t* row = image.NextRow()) out.insert(out.end(), row, row + image.Width() * 3);
        return out;
    }

    static std::wstring Device(const std::string& name) { return L"\\" + std::wstring(name.begin(), name.end()); }

    std::string Refusal(const std::string& name, const HeifLimits& limits = HeifLimits()) {
        HeifImage image;
        std::string reason;
        if (!image.Open(Device(name), limits, reason)) return reason;
        if (!image.Decode(reason)) return reason;
        return "";
    }

    fs::path m_dir;
};

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / a.size();
}

// A matrix profile with Display P3's primaries and sRGB's curve, as phones
// embed it.
std::vector<uint8_t> DisplayP3Icc() {
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const double params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    cmsFreeToneCurve(curve);
    return bytes;
}

// The pixels taken as in the profile and converted to sRGB by Little CMS.
std::vector<uint8_t> ToSrgbByLcms(const std::vector<uint8_t>& rgb, const std::vector<uint8_t>& icc) {
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    std::vector<uint8_t> out(rgb.size());
    cmsDoTransform(t, rgb.data(), out.data(), static_cast<cmsUInt32Number>(rgb.size() / 3));
    cmsDeleteTransform(t);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    return out;
}

std::vector<uint8_t> OverWhite(const std::vector<uint8_t>& rgb, int width) {
    std::vector<uint8_t> out(rgb.size());
    for (size_t i = 0; i < rgb.size(); ++i) {
        const int x = static_cast<int>((i / 3) % width);
        const int a = 255 * x / (width - 1);
        out[i] = static_cast<uint8_t>((rgb[i] * a + 255 * (255 - a) + 127) / 255);
    }
    return out;
}

// libheif's own conversion of the whole picture to R, G, B, 8 bits.
std::vector<uint8_t> DecodeByLibheif(const std::string& path) {
    heif_context* ctx = heif_context_alloc();
    heif_context_read_from_file(ctx, path.c_str(), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(ctx, &handle);
    const bool deep = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
    heif_image* image = nullptr;
    heif_decode_image(handle, &image, heif_colorspace_RGB,
                      deep ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB, nullptr);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image, heif_channel_interleaved);
    const int h = heif_image_get_height(image, heif_channel_interleaved);
    const int max = (1 << heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved)) - 1;
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y)
        for (int i = 0; i < w * 3; ++i) {
            const uint8_t* p = plane + size_t(y) * stride;
            out.push_back(deep ? static_cast<uint8_t>(((p[i * 2] | p[i * 2 + 1] << 8) * 255 + max / 2) / max) : p[i]);
        }
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return out;
}

// A picture decoded by libheif's own HEVC decoder (threads 0) or the
// program's on that many threads, as libheif
// hands it on (YCbCr in the stored chroma format: the codec's own planes;
// RGB: after libheif's conversion, which follows the codec's colour), and
// the colour it then says it is in.
struct CodecPicture {
    std::vector<uint8_t> planes;
    int chroma = -1, bits = 0;
    int nclx[4] = {-1, -1, -1, -1};
};

CodecPicture Decode(const std::string& path, int threads, heif_colorspace space, heif_chroma chroma) {
    CodecPicture out;
    heif_context* ctx = heif_context_alloc();
    if (threads > 0) {
        EXPECT_TRUE(UseThreadedHevcDecoder(ctx, threads));
    }
    heif_context_read_from_file(ctx, path.c_str(), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(ctx, &handle);
    heif_image* image = nullptr;
    const heif_error e = heif_decode_image(handle, &image, space, chroma, nullptr);
    EXPECT_EQ(e.code, heif_error_Ok) << e.message;
    if (image) {
        out.chroma = heif_image_get_chroma_format(image);
        for (heif_channel c : {heif_channel_Y, heif_channel_Cb, heif_channel_Cr, heif_channel_interleaved}) {
            if (!heif_image_has_channel(image, c)) continue;
            int stride = 0;
            const uint8_t* p = heif_image_get_plane_readonly(image, c, &stride);
            out.bits = std::max(out.bits, heif_image_get_bits_per_pixel_range(image, c));
            const size_t row = size_t(heif_image_get_width(image, c)) * ((heif_image_get_bits_per_pixel(image, c) + 7) / 8);
            for (int y = 0; y < heif_image_get_height(image, c); ++y)
                out.planes.insert(out.planes.end(), p + size_t(y) * stride, p + size_t(y) * stride + row);
        }
        heif_color_profile_nclx* nclx = nullptr;
        if (heif_image_get_nclx_color_profile(image, &nclx).code == heif_error_Ok && nclx) {
            const int values[4] = {nclx->color_primaries, nclx->transfer_characteristics, nclx->matrix_coefficients,
                                   nclx->full_range_flag};
            std::copy(values, values + 4, out.nclx);
            heif_nclx_color_profile_free(nclx);
        }
        heif_image_release(image);
    }
    heif_image_handle_release(handle);
    heif_context_free(ctx);
    return out;
}

// Lossy coding at 95 with 4:4:4 stays this close on average.
constexpr double CLOSE = 3.0;

TEST_F(HeifImageTest, HeicAvifAndDeepImagesDecodeToTheirPixels) {
    const HeifRecipe plain;
    const std::vector<uint8_t> rgb = PhonePhoto(plain.width, plain.height);
    struct Case {
        const char* name;
        heif_compression_format format;
        int bits;
        bool alpha;
    } cases[] = {{"plain.heic", heif_compression_HEVC, 8, false},
                 {"plain.avif", heif_compression_AV1, 8, false},
                 {"deep.heic", heif_compression_HEVC, 10, false},
                 {"deep.avif", heif_compression_AV1, 12, false},
                 {"alpha.avif", heif_compression_AV1, 8, true},
                 {"deepalpha.heic", heif_compression_HEVC, 10, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifRecipe s = plain;
        s.format = c.format;
        s.bits = c.bits;
        s.alpha = c.alpha;
        ASSERT_TRUE(Write(s, rgb, c.name));
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll(c.name, image);
        EXPECT_EQ(image.Width(), 192u);
        EXPECT_EQ(image.Height(), 128u);
        EXPECT_EQ(image.BitDepth(), c.bits);
        EXPECT_EQ(image.HasAlpha(), c.alpha);
        EXPECT_FALSE(image.ConvertsColour());
        EXPECT_LT(MeanDifference(got, c.alpha ? OverWhite(rgb, s.width) : rgb), CLOSE);
        EXPECT_EQ(image.NextRow(), nullptr);
    }
    EXPECT_TRUE(IsHeifFile(L"\\plain.heic"));
    EXPECT_FALSE(IsHeifFile(L"\\nothing.heic"));
}

// The program's own YCbCr conversion, against libheif's, for the matrices
// and ranges phones and cameras write.
TEST_F(HeifImageTest, YCbCrIsConvertedAsLibheifDoes) {
    HeifRecipe s;
    s.width = 191, s.height = 127;  // odd: the last chroma sample covers one pixel
    const std::vector<uint8_t> rgb = PhonePhoto(s.width, s.height);
    struct Case {
        const char* name;
        int bits, matrix;
        bool full;
        heif_compression_format format;
    } cases[] = {{"601.heic", 8, 0, true, heif_compression_HEVC},
                 {"709limited.heic", 8, 1, false, heif_compression_HEVC},
                 {"2020limited10.heic", 10, 9, false, heif_compression_HEVC},
                 {"601full.avif", 8, 6, true, heif_compression_AV1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifRecipe p = s;
        p.chroma = "420";
        p.bits = c.bits;
        p.format = c.format;
        p.nclxPrimaries = c.matrix ? 1 : 0;
        p.nclxMatrix = c.matrix;
        p.fullRange = c.full;
        ASSERT_TRUE(Write(p, rgb, c.name));
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll(c.name, image);
        const std::vector<uint8_t> theirs = DecodeByLibheif(Path(c.name));
        ASSERT_EQ(got.size(), theirs.size());
        int worst = 0;
        for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(int(got[i]) - int(theirs[i])));
        // Apart from a few pixels at hard edges and libheif's rounding when
        // it goes through its own YCbCr first, the same bytes.
        EXPECT_LT(MeanDifference(got, theirs), 0.6);
        EXPECT_LE(worst, 16);
        EXPECT_LT(MeanDifference(got, rgb), CLOSE);
    }
}

TEST_F(HeifImageTest, TurnedImagesComeOutUprightAndStaleExifIsOnlyReported) {
    HeifRecipe s;
    const std::vector<uint8_t> stored = PhonePhoto(s.width, s.height);
    for (int tag : {3, 6, 8, 5}) {
        SCOPED_TRACE(tag);
        s.orientation = static_cast<heif_orientation>(tag);
        ASSERT_TRUE(Write(s, stored, "turned.heic"));
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll("turned.heic", image);
        const bool side = tag >= 5;
        EXPECT_EQ(image.Width(), side ? 128u : 192u);
        EXPECT_EQ(image.Height(), side ? 192u : 128u);
        EXPECT_LT(MeanDifference(got, TurnUpright(stored, s.width, s.height, tag)), CLOSE);
    }
    // Upright pixels with an EXIF that still says 6: left as they are.
    s.orientation = heif_orientation_normal;
    s.exifTiff = OrientationTiff(6, true);
    s.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    ASSERT_TRUE(Write(s, stored, "stale.heic"));
    HeifImage image;
    const std::vector<uint8_t> got = DecodeAll("stale.heic", image);
    EXPECT_EQ(image.Width(), 192u);
    EXPECT_EQ(image.ExifOrientation(), 6);
    EXPECT_LT(MeanDifference(got, stored), CLOSE);
    // The blobs as the JPEG path's metadata code takes them.
    ASSERT_GE(image.Exif().size(), 6u + s.exifTiff.size());
    EXPECT_EQ(std::string(image.Exif().begin(), image.Exif().begin() + 6), std::string("Exif\0\0", 6));
    EXPECT_EQ(std::string(image.Exif().begin() + 6, image.Exif().end()).substr(0, s.exifTiff.size()), s.exifTiff);
    const std::string xmp(image.Xmp().begin(), image.Xmp().end());
    EXPECT_EQ(xmp, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + s.xmp);
}

TEST_F(HeifImageTest, WideGamutByIccOrNclxIsConvertedAndSrgbIsNot) {
    HeifRecipe s;
    const std::vector<uint8_t> rgb = PhonePhoto(s.width, s.height);
    const std::vector<uint8_t> p3 = DisplayP3Icc();
    const std::vector<uint8_t> expected = ToSrgbByLcms(rgb, p3);
    // The conversion moves the pixels well beyond what the coding does.
    ASSERT_GT(MeanDifference(rgb, expected), 3 * CLOSE);
    struct Case {
        const char* name;
        int bits;
        bool icc;
        heif_compression_format format;
    } cases[] = {{"icc.heic", 8, true, heif_compression_HEVC},
                 {"nclx.heic", 8, false, heif_compression_HEVC},
                 {"icc10.heic", 10, true, heif_compression_HEVC},
                 {"nclx10.heic", 10, false, heif_compression_HEVC}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifRecipe p = s;
        p.bits = c.bits;
        p.format = c.format;
        if (c.icc)
            p.icc = p3;
        else
            p.nclxPrimaries = 12;  // SMPTE EG 432: Display P3
        ASSERT_TRUE(Write(p, rgb, c.name));
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll(c.name, image);
        EXPECT_TRUE(image.ConvertsColour());
        EXPECT_EQ(image.ColourProblem(), "");
        EXPECT_EQ(image.Icc().empty(), !c.icc);
        EXPECT_LT(MeanDifference(got, expected), CLOSE);
    }
    // sRGB said either way converts nothing; PQ is taken as sRGB with a word why.
    const std::vector<uint8_t> srgbIcc = [] {
        cmsHPROFILE p = cmsCreate_sRGBProfile();
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(p, nullptr, &size);
        std::vector<uint8_t> bytes(size);
        cmsSaveProfileToMem(p, bytes.data(), &size);
        cmsCloseProfile(p);
        return bytes;
    }();
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        HeifRecipe p = s;
        if (variant == 0) p.icc = srgbIcc;
        if (variant == 1) p.nclxPrimaries = 1;
        if (variant == 2) p.nclxPrimaries = 9, p.nclxTransfer = 16;
        ASSERT_TRUE(Write(p, rgb, "srgb.heic"));
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll("srgb.heic", image);
        EXPECT_FALSE(image.ConvertsColour());
        EXPECT_EQ(image.ColourProblem().find("high dynamic range (PQ)") != std::string::npos, variant == 2);
        EXPECT_LT(MeanDifference(got, rgb), CLOSE);
    }
}

TEST_F(HeifImageTest, HeifEncMadeFilesFromAJpegAreReadWithTheirExif) {
    if (std::system("command -v heif-enc >/dev/null 2>&1") != 0) GTEST_SKIP() << "heif-enc is missing";
    JpegRecipe recipe;
    recipe.width = 320;
    recipe.height = 240;
    recipe.quality = 95;
    const std::string jpeg = WithExif(EncodeJpeg(recipe), OrientationTiff(1, false));
    WriteFile(Path("source.jpg"), jpeg);
    const Decoded source = DecodeFully(Path("source.jpg"), false);
    for (const char* name : {"made.heic", "made.avif"}) {
        SCOPED_TRACE(name);
        const std::string command = "heif-enc -q 90 " + Path("source.jpg") + " -o " + Path(name) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0);
        HeifImage image;
        const std::vector<uint8_t> got = DecodeAll(name, image);
        EXPECT_EQ(image.Codec(), std::string(name).find("avif") != std::string::npos ? "AV1" : "HEVC");
        EXPECT_EQ(image.Width(), 320u);
        EXPECT_LT(MeanDifference(got, source.pixels), 4.0);
        EXPECT_EQ(std::string(image.Exif().begin(), image.Exif().begin() + 10), std::string("Exif\0\0II*\0", 10));
    }
}

// The program's HEVC decoder is the same libde265 as libheif's own, with
// more threads: the same planes and colour, byte for byte, whatever the
// threads; and damage stays a reason, never a crash or a hang.
TEST_F(HeifImageTest, OwnHevcDecoderGivesLibheifsOwnPicturesOnAnyThreads) {
    // Rows of 64-pixel blocks that libde265 decodes side by side; odd sides,
    // which libheif crops from the coded picture.
    HeifRecipe s;
    s.width = 383, s.height = 449;
    const std::vector<uint8_t> rgb = PhonePhoto(s.width, s.height);
    struct Case {
        const char* name;
        int bits;
        heif_chroma chroma;
        int primaries, matrix;
        bool full;
    } cases[] = {{"plain.heic", 8, heif_chroma_420, 0, 6, true},
                 {"709limited.heic", 8, heif_chroma_420, 1, 1, false},
                 {"deep.heic", 10, heif_chroma_420, 0, 6, true},
                 {"full.heic", 8, heif_chroma_444, 12, 6, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HeifRecipe p = s;
        p.bits = c.bits;
        p.chroma = c.chroma == heif_chroma_420 ? "420" : "444";
        p.nclxPrimaries = c.primaries;
        p.nclxMatrix = c.matrix;
        p.fullRange = c.full;
        ASSERT_TRUE(Write(p, rgb, c.name));
        const heif_chroma interleaved = c.bits > 8 ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB;
        const CodecPicture theirs = Decode(Path(c.name), 0, heif_colorspace_YCbCr, c.chroma);
        const CodecPicture theirRgb = Decode(Path(c.name), 0, heif_colorspace_RGB, interleaved);
        const size_t chromaSamples = c.chroma == heif_chroma_420 ? size_t(s.width + 1) / 2 * ((s.height + 1) / 2)
                                                                 : size_t(s.width) * s.height;
        ASSERT_EQ(theirs.planes.size(), (size_t(s.width) * s.height + 2 * chromaSamples) * (c.bits > 8 ? 2 : 1));
        ASSERT_EQ(theirRgb.planes.size(), size_t(s.width) * s.height * 3 * (c.bits > 8 ? 2 : 1));
        for (int threads : {1, 2, 3}) {
            SCOPED_TRACE(threads);
            const CodecPicture ours = Decode(Path(c.name), threads, heif_colorspace_YCbCr, c.chroma);
            EXPECT_EQ(ours.chroma, theirs.chroma);
            EXPECT_EQ(ours.bits, theirs.bits);
            EXPECT_EQ(std::vector<int>(ours.nclx, ours.nclx + 4), std::vector<int>(theirs.nclx, theirs.nclx + 4));
            EXPECT_TRUE(ours.planes == theirs.planes);
            EXPECT_TRUE(Decode(Path(c.name), threads, heif_colorspace_RGB, interleaved).planes == theirRgb.planes);
        }
    }
    // Flipped and cut bytes decoded on two threads.
    const std::string good = ReadFile(Path("plain.heic"));
    HeifLimits two;
    two.decodingThreads = 2;
    for (size_t at = good.size() / 3; at < good.size(); at += good.size() / 40) {
        std::string bent = good;
        bent[at] = static_cast<char>(bent[at] ^ 0x5A);
        WriteFile(Path("bent.heic"), bent);
        Refusal("bent.heic", two);
        WriteFile(Path("cut.heic"), good.substr(0, at));
        EXPECT_NE(Refusal("cut.heic", two), "");
    }
}

TEST_F(HeifImageTest, DamagedOrForeignFilesAreRefusedWithAReason) {
    HeifRecipe s;
    ASSERT_TRUE(Write(s, MakePhoto(s.width, s.height, s.seed), "good.heic"));
    const std::string good = ReadFile(Path("good.heic"));
    // Cut at every few bytes: the structure, then the coded data.
    for (size_t keep : {size_t{11}, size_t{40}, size_t{300}, good.size() / 2, good.size() - 10}) {
        SCOPED_TRACE(keep);
        WriteFile(Path("cut.heic"), good.substr(0, keep));
        EXPECT_NE(Refusal("cut.heic"), "");
    }
    std::mt19937 random(7);
    std::string noise(5000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteFile(Path("random.heic"), noise);
    EXPECT_EQ(Refusal("random.heic"), "it is not a HEIF image");
    EXPECT_EQ(Refusal("missing.heic"), "it cannot be opened: No such file or directory");
    // A HEIF head on random data.
    WriteFile(Path("headed.heic"), good.substr(0, 32) + noise);
    EXPECT_NE(Refusal("headed.heic"), "");
    // Flipped bytes across the file: a reason or a picture, never a crash.
    for (size_t at = 24; at < good.size(); at += good.size() / 50) {
        std::string bent = good;
        bent[at] = static_cast<char>(bent[at] ^ 0x5A);
        WriteFile(Path("bent.heic"), bent);
        Refusal("bent.heic");
    }
    HeifLimits small;
    small.maxSide = 100;
    EXPECT_EQ(Refusal("good.heic", small), "it is larger than this program opens (100 pixels a side, 200 megapixels)");
    small.maxSide = 16384;
    small.maxPixels = 20000;
    EXPECT_EQ(Refusal("good.heic", small), "it is 192 x 128 pixels, larger than this program opens (16384 pixels a side, 0 megapixels)");
}

// The image spatial extents property (ispe) says 100000 x 100000 pixels.
TEST_F(HeifImageTest, AHugeClaimedSizeIsRefusedBeforeDecoding) {
    HeifRecipe s;
    ASSERT_TRUE(Write(s, MakePhoto(s.width, s.height, s.seed), "small.heic"));
    std::string bytes = ReadFile(Path("small.heic"));
    const size_t at = bytes.find("ispe");
    ASSERT_NE(at, std::string::npos);
    for (size_t i = 0; i < 2; ++i) {
        const uint32_t v = 100000;
        char* p = &bytes[at + 8 + i * 4];  // past the version and flags
        p[0] = static_cast<char>(v >> 24), p[1] = static_cast<char>(v >> 16), p[2] = static_cast<char>(v >> 8),
        p[3] = static_cast<char>(v);
    }
    WriteFile(Path("huge.heic"), bytes);
    EXPECT_NE(Refusal("huge.heic").find("larger than this program opens"), std::string::npos);
}

TEST_F(HeifImageTest, OnlyHeifBrandsAreRecognised) {
    auto head = [](const char* major, const char* compatible) {
        std::string h("\0\0\0\x18" "ftyp", 8);
        h += major;
        h += std::string("\0\0\0\0", 4);
        h += compatible;
        h += "mp41";
        return h;
    };
    auto looks = [](const std::string& h) { return LooksLikeHeif(reinterpret_cast<const uint8_t*>(h.data()), h.size()); };
    EXPECT_TRUE(looks(head("heic", "mif1")));
    EXPECT_TRUE(looks(head("avif", "mif1")));
    EXPECT_TRUE(looks(head("msf1", "heic")));  // a sequence that holds a still image
    EXPECT_FALSE(looks(head("isom", "mp42")));  // a video
    EXPECT_FALSE(looks(head("heic", "mif1").substr(0, 11)));
    EXPECT_FALSE(looks(std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01", 16)));
}

}  // namespace
