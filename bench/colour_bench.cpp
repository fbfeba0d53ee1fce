// Times photographs with a wide-gamut profile against the same photograph
// without one: the export (one thread, and with the encoder on a second),
// the preview against a plain full decode, and what the conversion alone
// costs, the program's own and Little CMS's.
// Usage: colour_bench PHOTO SCRATCH_FOLDER [RUNS]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <lcms2.h>

#include "BenchUtil.h"
#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tone/ToneCurve.h"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Adobe RGB (1998) as Adobe publishes it: D65, its primaries and a
// gamma of 563/256.
std::string AdobeRgb() {
    const cmsCIExyY white = {0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number n = 0;
    cmsSaveProfileToMem(p, nullptr, &n);
    std::string icc(n, '\0');
    cmsSaveProfileToMem(p, icc.data(), &n);
    cmsCloseProfile(p);
    cmsFreeToneCurve(gamma);
    return icc;
}

// The profile in APP2 markers after the JFIF header, as exiftool puts it.
std::string Tagged(const std::string& jpeg, const std::string& icc) {
    size_t at = 2;
    if (jpeg.size() > 6 && static_cast<unsigned char>(jpeg[3]) == 0xE0)
        at = 4 + (static_cast<unsigned char>(jpeg[4]) << 8 | static_cast<unsigned char>(jpeg[5]));
    std::string markers;
    const size_t chunk = 65519, count = (icc.size() + chunk - 1) / chunk;
    for (size_t i = 0; i < count; ++i) {
        const std::string part = icc.substr(i * chunk, chunk);
        const size_t length = 16 + part.size();
        markers += {'\xFF', '\xE2', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
        markers += std::string("ICC_PROFILE\0", 12) + static_cast<char>(i + 1) + static_cast<char>(count) + part;
    }
    return jpeg.substr(0, at) + markers + jpeg.substr(at);
}

class AllCores : public SpareCores {
public:
    bool Claim() override { return true; }
    void Release() override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: colour_bench PHOTO SCRATCH_FOLDER [RUNS]\n");
        return 2;
    }
    const std::string photo = argv[1], scratch = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
    const std::string jpeg = Slurp(photo);
    struct Profile {
        const char* name;
        std::string icc;
    };
    std::vector<Profile> profiles = {{"Adobe RGB (made with Little CMS)", AdobeRgb()}};
    for (const char* file : {"/usr/share/color/icc/colord/AdobeRGB1998.icc", "/usr/share/color/icc/colord/ProPhotoRGB.icc"})
        if (std::string icc = Slurp(file); !icc.empty()) profiles.push_back({file, icc});

    const std::string plainPath = scratch + "/plain.jpg";
    std::ofstream(plainPath, std::ios::binary) << jpeg;
    int W = 0, H = 0;
    std::vector<uint8_t> decoded;
    bench::PlainDecode(plainPath, &decoded, &W, &H);
    if (W == 0) {
        std::fprintf(stderr, "colour_bench: %s is no JPEG\n", photo.c_str());
        return 1;
    }
    const CRect frame(0, 0, W, H);
    NullProgressSink quiet;
    ToneCurve curve;
    AllCores cores;
    ExportExtras twoThreads;
    twoThreads.cores = &cores;
    auto exportOf = [&](const std::string& src, const ExportExtras& extras) {
        return [&, src] {
            if (!ExportFramedImageWith(bench::DevicePath(src), bench::DevicePath(scratch + "/out.jpg"), frame, quiet, ExportLevels(curve).Table(), 95, extras))
                std::fprintf(stderr, "colour_bench: export failed\n");
        };
    };
    auto previewOf = [&](const std::string& src) {
        return [&, src] {
            CSize box(800, 600), size;
            PreviewBuffer preview;
            LoadPreview(bench::DevicePath(src), box, size, preview, quiet);
        };
    };

    std::printf("Colour: %s, %d x %d (%.1f MP), best of %d, CPU ms\n", photo.c_str(), W, H, W * double(H) / 1e6, runs);
    const ExportExtras oneThread;
    for (const Profile& p : profiles) {
        const std::string taggedPath = scratch + "/tagged.jpg";
        std::ofstream(taggedPath, std::ios::binary) << Tagged(jpeg, p.icc);
        const auto t = bench::MeasureInRounds(
            runs, {exportOf(plainPath, oneThread), exportOf(taggedPath, oneThread), exportOf(plainPath, twoThreads),
                   exportOf(taggedPath, twoThreads), previewOf(plainPath), previewOf(taggedPath),
                   [&] { bench::PlainDecode(plainPath); }});
        std::printf("%s\n", p.name);
        std::printf("  export, one thread:   %7.1f vs %7.1f untagged: %.2fx (budget 1.30x)\n", t[1].cpu, t[0].cpu,
                    t[1].cpu / t[0].cpu);
        std::printf("  export, two threads:  %7.1f vs %7.1f untagged: %.2fx (wall %.1f vs %.1f: %.2fx)\n", t[3].cpu,
                    t[2].cpu, t[3].cpu / t[2].cpu, t[3].wall, t[2].wall, t[3].wall / t[2].wall);
        std::printf("  preview:              %7.1f vs %7.1f plain full decode: %.2fx (budget 1.15x); untagged preview %.1f\n",
                    t[5].cpu, t[6].cpu, t[5].cpu / t[6].cpu, t[4].cpu);

        // The conversion alone on every decoded pixel, row by row, in place
        // as the export does it.
        PhotoColour colour;
        colour.Prepare(std::vector<JOCTET>(p.icc.begin(), p.icc.end()), SourceColour::Rgb, false);
        std::vector<uint8_t> work = decoded;
        const auto own = bench::Measure(runs, [&] {
            for (int y = 0; y < H; ++y) {
                uint8_t* row = work.data() + static_cast<size_t>(y) * W * 3;
                colour.ToSrgb(row, row, static_cast<size_t>(W));
            }
        });
        std::printf("  own conversion alone: %7.1f (%.1f ns a pixel, %s)\n", own.cpu, own.cpu * 1e6 / (double(W) * H),
                    !colour.Shaper()                   ? "Little CMS"
                    : ShaperToSrgb::Avx2Available()    ? "AVX2 kernel"
                                                       : "plain kernel");
        if (colour.Shaper()) {
            const auto plain = bench::Measure(runs, [&] {
                for (int y = 0; y < H; ++y) {
                    uint8_t* row = work.data() + static_cast<size_t>(y) * W * 3;
                    colour.Shaper()->ConvertPlain(row, row, static_cast<size_t>(W));
                }
            });
            std::printf("  plain kernel alone:   %7.1f (%.1f ns a pixel)\n", plain.cpu, plain.cpu * 1e6 / (double(W) * H));
        }

        // Little CMS alone on every decoded pixel, row by row.
        cmsHPROFILE from = cmsOpenProfileFromMem(p.icc.data(), static_cast<cmsUInt32Number>(p.icc.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM x = cmsCreateTransform(from, TYPE_RGB_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE);
        std::vector<uint8_t> row(static_cast<size_t>(W) * 3);
        const auto lcms = bench::Measure(runs, [&] {
            for (int y = 0; y < H; ++y)
                cmsDoTransform(x, decoded.data() + static_cast<size_t>(y) * W * 3, row.data(), static_cast<cmsUInt32Number>(W));
        });
        std::printf("  cmsDoTransform alone: %7.1f (%.1f ns a pixel)\n", lcms.cpu, lcms.cpu * 1e6 / (double(W) * H));
        cmsDeleteTransform(x);
        cmsCloseProfile(srgb);
        cmsCloseProfile(from);
    }
    return 0;
}
