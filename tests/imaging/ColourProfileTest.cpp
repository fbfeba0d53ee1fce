// Photographs with ICC profiles: what the export and the preview make of
// them, held against Little CMS's own conversion of a plain decode. The
// profiles are made here with Little CMS, but for the sRGB ones Debian ships.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <lcms2.h>

#include "TestJpeg.h"
#include "TurnedJpeg.h"
#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

std::string Saved(cmsHPROFILE p) {
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    std::string bytes(n, '\0');
    cmsSaveProfileToMem(p, bytes.data(), &n);
    cmsCloseProfile(p);
    return bytes;
}

std::string RgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, cmsToneCurve* curve) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const std::string bytes = Saved(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

std::string RgbProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries, double gamma) {
    return RgbProfile(white, primaries, cmsBuildGamma(nullptr, gamma));
}

const cmsCIExyY D65 = {0.3127, 0.3290, 1.0};
const cmsCIExyY D50 = {0.3457, 0.3585, 1.0};

std::string AdobeRgb() { return RgbProfile(D65, {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}}, 563.0 / 256); }
std::string ProPhoto() { return RgbProfile(D50, {{0.7347, 0.2653, 1}, {0.1596, 0.8404, 1}, {0.0366, 0.0001, 1}}, 1.8); }
// Display P3: a phone's colours, with sRGB's tone curve.
std::string DisplayP3() {
    const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return RgbProfile(D65, {{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}},
                      cmsBuildParametricToneCurve(nullptr, 4, srgbCurve));
}
// Adobe RGB whose black is a dark grey: Little CMS maps it to black.
std::string AdobeRgbGreyBlack() {
    const cmsFloat64Number lifted[7] = {2.2, 0.98, 0.0, 0.0, 0.0, 0.02, 0.02};
    return RgbProfile(D65, {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}},
                      cmsBuildParametricToneCurve(nullptr, 5, lifted));
}
// Adobe RGB's matrix beside a table, which Little CMS takes instead.
std::string AdobeRgbWithTable() {
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&D65, &primaries, curves);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, cmsStageAllocToneCurves(nullptr, 3, curves));
    const cmsFloat64Number toXyz[9] = {0.45, 0.35, 0.15, 0.22, 0.72, 0.06, 0.02, 0.1, 0.7};
    const cmsFloat64Number offset[3] = {0, 0, 0};
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocMatrix(nullptr, 3, 3, toXyz, offset));
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsPipelineFree(lut);
    cmsFreeToneCurve(gamma);
    return Saved(p);
}
// sRGB's primaries with a plain gamma: close, but not sRGB.
std::string SrgbGamma22() { return RgbProfile(D65, {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}}, 2.2); }

std::string SrgbV4() { return Saved(cmsCreate_sRGBProfile()); }

void Describe(cmsHPROFILE p, const char* name) {
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", name);
    cmsWriteTag(p, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
}

std::string SrgbV2Renamed() {
    cmsHPROFILE p = cmsCreate_sRGBProfile();
    cmsSetProfileVersion(p, 2.1);
    Describe(p, "Camera colours");
    return Saved(p);
}

std::string Described(const std::string& icc, const char* name) {
    cmsHPROFILE p = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    Describe(p, name);
    return Saved(p);
}

std::string GreyGamma18() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    const std::string bytes = Saved(cmsCreateGrayProfile(cmsD50_xyY(), curve));
    cmsFreeToneCurve(curve);
    return bytes;
}

// A printer-like CMYK profile: a table from inks to Lab.
cmsInt32Number InksToLab(const cmsUInt16Number in[], cmsUInt16Number out[], void*) {
    const double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0, k = in[3] / 65535.0;
    const double r = (1 - c) * (1 - k), g = (1 - m) * (1 - k), b = (1 - y) * (1 - k);
    cmsCIELab lab{100 * (0.3 * r + 0.59 * g + 0.11 * b), 70 * (r - g), 50 * (g - b)};
    cmsFloat2LabEncoded(out, &lab);
    return TRUE;
}

std::string CmykProfile() {
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* table = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(table, InksToLab, nullptr, 0);
    // Version 4 keeps tables between curves; these change nothing.
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, cmsStageAllocToneCurves(nullptr, 4, nullptr));
    cmsPipelineInsertStage(lut, cmsAT_END, table);
    cmsPipelineInsertStage(lut, cmsAT_END, cmsStageAllocToneCurves(nullptr, 3, nullptr));
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    return Saved(p);
}

// Little CMS's perceptual conversion to sRGB, as a viewer would do it.
std::vector<uint8_t> ToSrgb(const std::string& icc, const std::vector<uint8_t>& pixels, cmsUInt32Number format) {
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(from, format, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
    if (!t) {
        ADD_FAILURE() << "no transform";
        return {};
    }
    const size_t n = pixels.size() / T_CHANNELS(format);
    std::vector<uint8_t> out(n * 3);
    cmsDoTransform(t, pixels.data(), out.data(), static_cast<cmsUInt32Number>(n));
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(from);
    return out;
}

// The program's own conversion of a three-byte photograph's pixels.
std::vector<uint8_t> Converted(const std::string& icc, const std::vector<uint8_t>& pixels) {
    PhotoColour colour;
    colour.Prepare(std::vector<JOCTET>(icc.begin(), icc.end()), SourceColour::Rgb, false);
    EXPECT_TRUE(colour.Converts());
    std::vector<uint8_t> out(pixels.size());
    colour.ToSrgb(pixels.data(), out.data(), pixels.size() / 3);
    return out;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    EXPECT_EQ(a.size(), b.size());
    int most = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) most = std::max(most, std::abs(int(a[i]) - int(b[i])));
    return most;
}

// Every third level of each channel, and the brightest.
std::vector<uint8_t> ColourGrid() {
    std::vector<uint8_t> grid;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 3)
            for (int b = 0; b < 256; b += 3) grid.insert(grid.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    return grid;
}

std::vector<uint8_t> Crop(const Decoded& d, const CRect& r) {
    std::vector<uint8_t> out;
    const size_t c = d.components;
    for (int y = r.top; y < r.bottom; ++y) {
        const uint8_t* row = &d.pixels[(static_cast<size_t>(y) * d.width + r.left) * c];
        out.insert(out.end(), row, row + r.Width() * c);
    }
    return out;
}

// Whether a file carries exactly this profile (test profiles fit one marker).
bool Carries(const std::string& file, const std::string& icc) {
    return icc.empty() ? file.find("ICC_PROFILE") == std::string::npos : file.find(icc) != std::string::npos;
}

class AllCores : public SpareCores {
public:
    bool Claim() override { return true; }
    void Release() override {}
};

class ColourTest : public ::testing::Test {
protected:
    void SetUp() override {
        storage.Folder("out");
        WriteFile(Host("plain.jpg"), photo);
        ASSERT_EQ(ExportFramedImage(L"\\plain.jpg", L"\\out\\plain.jpg", crop, quiet, identity, 95), 1);
        plainExport = ReadFile(Host("out/plain.jpg"));
        plainPreview = Preview(L"\\plain.jpg");
    }
    std::string Host(const std::string& name) const { return storage.Host(name); }

    // Writes the photograph with icc as src.jpg and exports it.
    std::string Export(const std::string& icc, ToneCurve& curve, const ExportExtras& extras = ExportExtras(),
                       PhotoReport* report = nullptr, const std::string& jpeg = "") {
        WriteFile(Host("src.jpg"), WithIccProfile(jpeg.empty() ? photo : jpeg, icc));
        EXPECT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", crop, quiet, ExportLevels(curve).Table(), 95, extras, report), 1);
        return ReadFile(Host("out/a.jpg"));
    }

    std::vector<uint8_t> Preview(const std::wstring& path, PhotoReport* report = nullptr) {
        CSize box(400, 300), size;
        PreviewBuffer preview;
        EXPECT_EQ(LoadPreview(path, box, size, preview, quiet, report), 1);
        return std::vector<uint8_t>(preview.Data(), preview.Data() + preview.Size());
    }

    TempStorage storage;
    NullProgressSink quiet;
    ToneCurve identity;
    const std::string photo = EncodeJpeg({1000, 700});
    const CRect crop{101, 49, 899, 650};
    std::string plainExport;
    std::vector<uint8_t> plainPreview;
};

TEST_F(ColourTest, SrgbProfilesOfAnyNameOrVersionChangeNoByte) {
    std::vector<std::string> srgb = {SrgbV4(), SrgbV2Renamed()};
    for (const char* debian : {"/usr/share/color/icc/sRGB.icc", "/usr/share/color/icc/colord/sRGB.icc"})
        if (std::filesystem::exists(debian)) srgb.push_back(ReadFile(debian));
    for (size_t i = 0; i < srgb.size(); ++i) {
        SCOPED_TRACE(i);
        PhotoColour colour;
        colour.Prepare(std::vector<JOCTET>(srgb[i].begin(), srgb[i].end()), SourceColour::Rgb, false);
        EXPECT_EQ(colour.Use(), ProfileUse::Srgb);
        PhotoReport report;
        EXPECT_TRUE(Export(srgb[i], identity, ExportExtras(), &report) == plainExport);
        EXPECT_EQ(report.profileProblem, "");
        EXPECT_TRUE(Preview(L"\\src.jpg") == plainPreview);
    }
    // Near misses must still be converted: the same primaries with another
    // tone curve, and other primaries.
    std::vector<std::string> others = {SrgbGamma22(), AdobeRgb(), ProPhoto()};
    if (std::filesystem::exists("/usr/share/color/icc/colord/Rec709.icc"))
        others.push_back(ReadFile("/usr/share/color/icc/colord/Rec709.icc"));
    for (size_t i = 0; i < others.size(); ++i) {
        SCOPED_TRACE(i);
        PhotoColour colour;
        colour.Prepare(std::vector<JOCTET>(others[i].begin(), others[i].end()), SourceColour::Rgb, false);
        EXPECT_EQ(colour.Use(), ProfileUse::Convert);
    }
}

// The rows of the frame through the conversion, then the tone curve, then
// a plain encoder: on one thread or with the encoder on its own. The preview
// is the plain preview converted. Matrix profiles are converted without
// Little CMS, so its results are met within a level, not to the byte.
TEST_F(ColourTest, WideGamutExportIsTheConversionOfTheDecodedCrop) {
    WriteFile(Host("plain.jpg"), photo);
    const std::vector<uint8_t> decoded = Crop(DecodeFully(Host("plain.jpg"), false), crop);
    ToneCurve bright;
    ApplyPreset(bright, *FindPresetByIndex(3));
    bright.UpdateLut();
    for (const std::string& icc : {AdobeRgb(), ProPhoto()}) {
        std::vector<uint8_t> expected = Converted(icc, decoded);
        EXPECT_LE(MaxDifference(expected, ToSrgb(icc, decoded, TYPE_RGB_8)), 1);
        const std::string plain = EncodePlain(expected.data(), crop.Width(), crop.Height(), 95);
        PhotoReport report;
        EXPECT_TRUE(Export(icc, identity, ExportExtras(), &report) == plain);
        EXPECT_EQ(report.profileProblem, "");
        AllCores cores;
        ExportExtras threads;
        threads.cores = &cores;
        EXPECT_TRUE(Export(icc, identity, threads) == plain);

        // The encoder's thread prepares half of each batch's rows then.
        for (uint8_t& v : expected) v = static_cast<uint8_t>(bright.m_lut[v]);
        const std::string brighter = EncodePlain(expected.data(), crop.Width(), crop.Height(), 95);
        EXPECT_TRUE(Export(icc, bright) == brighter);
        EXPECT_TRUE(Export(icc, bright, threads) == brighter);

        const std::vector<uint8_t> preview = Preview(L"\\src.jpg");
        EXPECT_TRUE(preview == Converted(icc, plainPreview));
        EXPECT_LE(MaxDifference(preview, ToSrgb(icc, plainPreview, TYPE_RGB_8)), 1);
    }
}

// A photograph stored on its side and in Adobe RGB: turned first, converted
// the same, whether it streams (a mirror) or is gathered from a buffer, on
// one thread or two; its preview is the turned plain preview converted.
TEST_F(ColourTest, TurnedWideGamutPhotographIsConvertedUpright) {
    WriteFile(Host("plain.jpg"), photo);
    const Decoded d = DecodeFully(Host("plain.jpg"), false);
    const std::string icc = AdobeRgb();
    AllCores cores;
    ExportExtras threads;
    threads.cores = &cores;
    for (const int tag : {2, 6}) {
        SCOPED_TRACE(tag);
        const std::string turned = WithExif(photo, OrientationTiff(tag));
        const std::vector<uint8_t> upright = TurnUpright(d.pixels, d.width, d.height, tag);
        const int width = tag == 6 ? d.height : d.width;
        const CRect frame(33, 17, width - 21, 610);
        const std::vector<uint8_t> expected =
            Converted(icc, CropRgb(upright, width, frame.left, frame.top, frame.right, frame.bottom));
        const std::string plain = EncodePlain(expected.data(), frame.Width(), frame.Height(), 95);
        const ExportExtras one;
        const ExportExtras* runs[] = {&threads, &one};
        for (const ExportExtras* extras : runs) {
            WriteFile(Host("src.jpg"), WithIccProfile(turned, icc));
            ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", frame, quiet, ExportLevels(identity).Table(), 95, *extras), 1);
            EXPECT_TRUE(ReadFile(Host("out/a.jpg")) == plain);
        }
        WriteFile(Host("turned.jpg"), turned);
        const std::vector<uint8_t> plainTurned = Preview(L"\\turned.jpg");
        EXPECT_TRUE(Preview(L"\\src.jpg") == Converted(icc, plainTurned));
    }
}

// The wide-gamut profiles in circulation are matrices and tone curves; their
// conversion is the program's own and meets Little CMS's within a level
// over the whole colour cube, out-of-gamut corners included.
TEST_F(ColourTest, MatrixProfilesMeetLittleCmsWithinALevel) {
    std::vector<std::string> profiles = {AdobeRgb(), ProPhoto(), DisplayP3(), SrgbGamma22()};
    for (const char* debian : {"/usr/share/color/icc/colord/AdobeRGB1998.icc", "/usr/share/color/icc/colord/ProPhotoRGB.icc"})
        if (std::filesystem::exists(debian)) profiles.push_back(ReadFile(debian));
    const std::vector<uint8_t> grid = ColourGrid();
    for (size_t i = 0; i < profiles.size(); ++i) {
        SCOPED_TRACE(i);
        PhotoColour colour;
        colour.Prepare(std::vector<JOCTET>(profiles[i].begin(), profiles[i].end()), SourceColour::Rgb, false);
        ASSERT_NE(colour.Shaper(), nullptr);
        const std::vector<uint8_t> ours = Converted(profiles[i], grid), theirs = ToSrgb(profiles[i], grid, TYPE_RGB_8);
        EXPECT_LE(MaxDifference(ours, theirs), 1);
        // Black, white and greys are where a level shows most.
        for (size_t p = 0; p < grid.size(); p += 3) {
            if (grid[p] != grid[p + 1] || grid[p] != grid[p + 2] || (grid[p] != 0 && grid[p] != 255)) continue;
            EXPECT_TRUE(ours[p] == grid[p] && ours[p + 1] == grid[p] && ours[p + 2] == grid[p]) << int(grid[p]);
        }
    }
}

// A file must come out the same on every processor: the vector kernel and
// the plain one give the same bytes, for any length and in place.
TEST_F(ColourTest, ShaperKernelsGiveTheSameBytes) {
    const std::string icc = ProPhoto();
    PhotoColour colour;
    colour.Prepare(std::vector<JOCTET>(icc.begin(), icc.end()), SourceColour::Rgb, false);
    const ShaperToSrgb* shaper = colour.Shaper();
    ASSERT_NE(shaper, nullptr);
    std::vector<uint8_t> pixels = ColourGrid();
    uint32_t seed = 12345;
    for (int i = 0; i < 3 * 5000; ++i) {
        seed = seed * 1664525u + 1013904223u;
        pixels.push_back(static_cast<uint8_t>(seed >> 24));
    }
    const size_t n = pixels.size() / 3;
    std::vector<uint8_t> plain(pixels.size());
    shaper->ConvertPlain(pixels.data(), plain.data(), n);
    std::vector<uint8_t> inPlace = pixels;
    shaper->Convert(inPlace.data(), inPlace.data(), n);
    EXPECT_TRUE(inPlace == plain);
    if (!ShaperToSrgb::Avx2Available()) GTEST_SKIP() << "no AVX2 here: only the plain kernel runs";
    std::vector<uint8_t> vector(pixels.size());
    shaper->ConvertAvx2(pixels.data(), vector.data(), n);
    EXPECT_TRUE(vector == plain);
    // Lengths around the vector kernel's blocks, from odd starts.
    for (size_t length : {0, 1, 2, 3, 5, 31, 32, 33, 63, 64, 65, 127, 130, 1001})
        for (size_t start : {size_t{0}, size_t{7}}) {
            std::vector<uint8_t> some(pixels.begin() + start * 3, pixels.begin() + (start + length) * 3);
            shaper->ConvertAvx2(some.data(), some.data(), length);
            EXPECT_TRUE(std::equal(some.begin(), some.end(), plain.begin() + start * 3)) << length << " from " << start;
        }
}

// What is more than a matrix and curves stays Little CMS's, to the byte: a
// black that is not black (its compensation maps it to black) and a profile
// whose table Little CMS prefers to its matrix.
TEST_F(ColourTest, ProfilesBeyondAMatrixStayWithLittleCms) {
    const std::vector<uint8_t> grid = ColourGrid();
    for (const std::string& icc : {AdobeRgbGreyBlack(), AdobeRgbWithTable()}) {
        PhotoColour colour;
        colour.Prepare(std::vector<JOCTET>(icc.begin(), icc.end()), SourceColour::Rgb, false);
        EXPECT_EQ(colour.Use(), ProfileUse::Convert);
        EXPECT_EQ(colour.Shaper(), nullptr);
        EXPECT_TRUE(Converted(icc, grid) == ToSrgb(icc, grid, TYPE_RGB_8));
    }
}

TEST_F(ColourTest, DamagedOrUnfitProfilesCountAsNoneAndSaySo) {
    const std::string adobe = AdobeRgb();
    std::string wrongMagic = adobe;
    wrongMagic[36] = 'x';  // "acsp"
    // A profile in three markers whose middle one is missing.
    std::string gap = WithIccProfile(photo, adobe, 200);
    const size_t second = gap.find(std::string("ICC_PROFILE\0\x02", 13));
    ASSERT_NE(second, std::string::npos);
    gap.erase(second - 4, 4 + 14 + 200);
    struct Case {
        std::string icc, jpeg, says;
    };
    const Case cases[] = {
        {std::string(3000, 'x'), "", "damaged"},
        {adobe.substr(0, adobe.size() / 2), "", "damaged"},
        {wrongMagic, "", "damaged"},
        {"", gap, "damaged"},
        {CmykProfile(), "", "for CMYK pixels, not for its RGB ones"},
        {GreyGamma18(), "", "for grey pixels"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const std::string jpeg = c.jpeg.empty() ? WithIccProfile(photo, c.icc) : c.jpeg;
        WriteFile(Host("src.jpg"), jpeg);
        PhotoReport report;
        ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\a.jpg", crop, quiet, ExportLevels(identity).Table(), 95, ExportExtras(),
                                        &report),
                  1);
        EXPECT_TRUE(ReadFile(Host("out/a.jpg")) == plainExport);
        EXPECT_NE(report.profileProblem.find(c.says), std::string::npos) << report.profileProblem;
        PhotoReport previewReport;
        EXPECT_TRUE(Preview(L"\\src.jpg", &previewReport) == plainPreview);
        EXPECT_EQ(previewReport.profileProblem, report.profileProblem);
    }
}

TEST_F(ColourTest, CmykAndGreyPhotographsGoThroughTheirProfiles) {
    const std::string cmyk = CmykProfile();
    for (Colour kind : {Colour::CmykAdobe, Colour::CmykPlain}) {
        const std::string jpeg = EncodeJpeg({1000, 700, 2, 2, false, 0, 90, kind});
        WriteFile(Host("plain.jpg"), jpeg);
        const std::vector<uint8_t> inks = Crop(DecodeFully(Host("plain.jpg"), true), crop);
        const std::vector<uint8_t> rgb = ToSrgb(cmyk, inks, kind == Colour::CmykAdobe ? TYPE_CMYK_8_REV : TYPE_CMYK_8);
        PhotoReport report;
        EXPECT_TRUE(Export(cmyk, identity, ExportExtras(), &report, jpeg) ==
                    EncodePlain(rgb.data(), crop.Width(), crop.Height(), 95));
        EXPECT_EQ(report.profileProblem, "");
    }

    const std::string grey = GreyGamma18();
    const std::string jpeg = EncodeJpeg({1000, 700, 2, 2, false, 0, 90, Colour::Grey});
    WriteFile(Host("plain.jpg"), jpeg);
    std::vector<uint8_t> levels(256);
    for (int v = 0; v < 256; ++v) levels[v] = static_cast<uint8_t>(v);
    const std::vector<uint8_t> table = ToSrgb(grey, levels, TYPE_GRAY_8);
    std::vector<uint8_t> rgb = Crop(DecodeFully(Host("plain.jpg"), false), crop);
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const int v = rgb[i];
        for (int c = 0; c < 3; ++c) rgb[i + c] = table[v * 3 + c];
    }
    EXPECT_TRUE(Export(grey, identity, ExportExtras(), nullptr, jpeg) ==
                EncodePlain(rgb.data(), crop.Width(), crop.Height(), 95));
}

// A profile goes into the new file only when it tells how to show the
// pixels written; a lossless cut, which converts nothing, keeps it.
TEST_F(ColourTest, KeptProfilesTellTheTruthAboutThePixels) {
    const std::string adobe = AdobeRgb(), srgb = SrgbV2Renamed();
    const std::string converted = Export(adobe, identity);
    EXPECT_TRUE(Carries(converted, ""));

    std::vector<std::string> warnings;
    ExportExtras profile;
    profile.keepProfile = true;
    profile.warnings = &warnings;
    EXPECT_TRUE(Carries(Export(adobe, identity, profile), adobe));
    EXPECT_TRUE(DecodeFully(Host("out/a.jpg"), false).pixels == DecodeFully(Host("out/plain.jpg"), false).pixels);

    ExportExtras metadata;
    metadata.keepMetadata = true;
    EXPECT_TRUE(Export(adobe, identity, metadata) == converted);
    EXPECT_TRUE(Carries(Export(srgb, identity, metadata), srgb));
    EXPECT_TRUE(warnings.empty());

    // A CMYK profile describes no RGB file: converted through, left out.
    const std::string cmyk = CmykProfile();
    const std::string jpeg = EncodeJpeg({1000, 700, 2, 2, false, 0, 90, Colour::CmykAdobe});
    const std::string throughProfile = Export(cmyk, identity, ExportExtras(), nullptr, jpeg);
    EXPECT_TRUE(Export(cmyk, identity, profile, nullptr, jpeg) == throughProfile);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("profile is for CMYK"), std::string::npos) << warnings[0];

    for (const std::string& icc : {adobe, srgb, std::string()}) {
        WriteFile(Host("src.jpg"), WithIccProfile(photo, icc));
        LosslessCut cut;
        std::string error;
        ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\cut.jpg", crop, ExportExtras(), cut, error), 1) << error;
        EXPECT_TRUE(Carries(ReadFile(Host("out/cut.jpg")), icc == adobe ? adobe : ""));
    }
}

// Kept metadata leaves out a profile the pixels were converted from, and
// says which; a damaged profile (Little CMS cannot read it, or its header
// gives another length) goes into no file, whichever way it is written, and
// the pixels are then what they are without it.
TEST_F(ColourTest, ProfilesLeftOutAreNamedAndDamagedOnesAreNeverWritten) {
    const std::string p3 = Described(DisplayP3(), "Display P3");
    std::vector<std::string> warnings;
    ExportExtras metadata;
    metadata.keepMetadata = true;
    metadata.warnings = &warnings;
    const std::string converted = Export(p3, identity);
    EXPECT_TRUE(Export(p3, identity, metadata) == converted);
    EXPECT_EQ(warnings, std::vector<std::string>{"its colour profile (Display P3) is left out: the new file's pixels "
                                                 "were converted from it to sRGB"});
    warnings.clear();
    metadata.keepProfile = true;
    EXPECT_TRUE(Carries(Export(p3, identity, metadata), p3));
    EXPECT_TRUE(warnings.empty());

    const std::string adobe = AdobeRgb();
    std::string oversized = adobe;
    oversized.replace(0, 4, "\xFF\xFF\xFF\xF0");
    std::string unreadable(3000, 'x');
    unreadable.replace(0, 4, std::string("\0\0\x0B\xB8", 4));  // its own length, and nothing else right
    const std::string adobeExport = Export(adobe, identity);
    for (const std::string& icc : {oversized, unreadable}) {
        for (int way = 0; way < 6; ++way) {
            SCOPED_TRACE(testing::Message() << icc.size() << " way " << way);
            const bool lossless = way >= 3;
            ExportExtras extras;
            extras.keepProfile = way % 3 == 1;
            extras.keepMetadata = way % 3 == 2;
            extras.warnings = &warnings;
            warnings.clear();
            std::string file;
            if (lossless) {
                WriteFile(Host("src.jpg"), WithIccProfile(photo, icc));
                LosslessCut cut;
                std::string error;
                ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\a.jpg", crop, extras, cut, error), 1) << error;
                file = ReadFile(Host("out/a.jpg"));
            } else {
                file = Export(icc, identity, extras);
                // Converted as without the option: a profile left out cannot
                // describe pixels kept as they were.
                EXPECT_TRUE(file == (icc == oversized ? adobeExport : plainExport));
            }
            EXPECT_TRUE(Carries(file, ""));
            // Said once where the profile was asked for, or would have gone
            // along with a cut's unconverted pixels.
            const bool said = way % 3 != 0 || (lossless && icc == oversized);
            EXPECT_EQ(warnings, said ? std::vector<std::string>{"its colour profile is damaged; left out"}
                                     : std::vector<std::string>{});
        }
    }
}

}  // namespace
