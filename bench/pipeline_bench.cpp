// Times the image pipeline against plain libjpeg work on the same files and
// against libvips, and prints the ratios the pipeline is held to.
// Usage: pipeline_bench PHOTO_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tone/ToneCurve.h"

namespace {

struct Photo {
    const char* name;
    const char* file;
};

// The full-width "10x15 cm" frame with the lab correction (10.2 x 15.2 cm)
// at the top of a landscape photograph, as the frame first lands.
CRect TenByFifteen(int W, int H) {
    const int h = static_cast<int>(std::lround(W * 10.2 / 15.2));
    if (h <= H) return CRect(0, 0, W, h);
    return CRect(0, 0, static_cast<int>(std::lround(H * 15.2 / 10.2)), H);
}

CRect Centred1200x800(int W, int H) {
    const int l = (W - 1200) / 2 | 1, t = (H - 800) / 2 | 1;  // odd offsets, off the block grid
    return CRect(l, t, l + 1200, t + 800);
}

std::string Vips(const std::string& src, const std::string& dst, const CRect& r) {
    return "vips crop " + src + " " + dst + "[Q=95] " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
           std::to_string(r.Width()) + " " + std::to_string(r.Height());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PHOTO_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]\n", argv[0]);
        return 2;
    }
    const std::string photos = argv[1], scratch = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
    const std::string rssProgram = argc > 4 ? argv[4] : "";
    const bool haveVips = bench::Have("vips");
    const std::string out = scratch + "/out.jpg";
    ToneCurve curve;
    NullProgressSink sink;

    std::printf("fastest of %d rounds, milliseconds: CPU time of this process, wall time of vips; destination %s\n\n",
                runs, scratch.c_str());
    std::printf("%-6s | %7s %7s %6s | %7s %7s %6s %7s | %7s %7s %6s\n", "", "plain", "Load", "", "plain", "Export",
                "", "vips", "Export", "vips", "");
    std::printf("%-6s | %7s %7s %6s | %7s %7s %6s %7s | %7s %7s %6s\n", "photo", "decode", "Preview", "ratio",
                "dec+enc", "frame", "ratio", "frame", "crop", "crop", "x");
    const Photo list[] = {{"2MP", "photo-2mp.jpg"}, {"12MP", "photo-12mp.jpg"}, {"24MP", "photo-24mp.jpg"},
                          {"24MPp", "photo-24mp-progressive.jpg"}};
    bool pass = true;
    for (const Photo& p : list) {
        const std::string src = photos + "/" + p.file;
        if (bench::Run({"test", "-f", src}).status != 0) continue;
        std::vector<uint8_t> pixels;
        int W = 0, H = 0;
        bench::PlainDecode(src, &pixels, &W, &H);
        if (W == 0) continue;
        const std::wstring dsrc = bench::DevicePath(src), dout = bench::DevicePath(out);

        const CRect frame = TenByFifteen(W, H);
        const CRect crop = Centred1200x800(W, H);
        std::vector<std::function<void()>> work = {
            [&] { bench::PlainDecode(src); },
            [&] {
                CSize box(236, 230), size;
                PreviewBuffer buffer;
                if (!LoadPreview(dsrc, box, size, buffer, sink)) std::abort();
            },
            [&] {
                bench::PlainEncode(pixels.data() + static_cast<size_t>(frame.top) * W * 3 + frame.left * 3, W * 3,
                                   frame.Width(), frame.Height(), out);
            },
            [&] {
                if (!ExportFramedImage(dsrc, dout, frame, sink, curve, 95)) std::abort();
            },
            [&] {
                if (!ExportFramedImage(dsrc, dout, crop, sink, curve, 95)) std::abort();
            },
        };
        if (haveVips) {
            work.push_back([&] { bench::Run({"sh", "-c", Vips(src, out, frame)}); });
            work.push_back([&] { bench::Run({"sh", "-c", Vips(src, out, crop)}); });
        }
        const std::vector<bench::Timing> t = bench::MeasureInRounds(runs, work);
        const double decode = t[0].cpu, preview = t[1].cpu, encode = t[2].cpu, exportFrame = t[3].cpu;
        const double exportCrop = t[4].wall;
        const double vipsFrame = haveVips ? t[5].wall : NAN, vipsCrop = haveVips ? t[6].wall : NAN;
        const double r1 = preview / decode, r2 = exportFrame / (decode + encode), r3 = vipsCrop / exportCrop;
        std::printf("%-6s | %7.1f %7.1f %6.3f | %7.1f %7.1f %6.3f %7.1f | %7.1f %7.1f %6.2f\n", p.name, decode, preview,
                    r1, decode + encode, exportFrame, r2, vipsFrame, exportCrop, vipsCrop, r3);
        pass = pass && r1 <= 1.10 && r2 <= 1.10 && (!haveVips || r3 >= 2.0);
    }
    std::printf("\nLoadPreview ratio = LoadPreview (box 236 x 230) / plain full decode (target <= 1.10)\n"
                "frame ratio       = export of the full-width \"10x15 cm\" frame / (plain full decode + plain q95\n"
                "                    encode of the frame's pixels) (target <= 1.10)\n"
                "x                 = vips crop / export, a 1200 x 800 crop at odd offsets in the middle, wall\n"
                "                    time (target >= 2)\n"
                "24MPp             = the 24 MP photograph made progressive (no targets)\n");

    if (!rssProgram.empty()) {
        std::printf("\npeak resident memory, KiB (export of the full-width 10x15 frame, process without Qt)\n");
        for (const char* file : {"photo-24mp.jpg", "photo-24mp-progressive.jpg"}) {
            const std::string src = photos + "/" + file;
            int W = 0, H = 0;
            bench::PlainDecode(src, nullptr, &W, &H);
            if (W == 0) continue;
            const CRect f = TenByFifteen(W, H);
            bench::ChildResult ours = bench::Run({rssProgram, src, out, std::to_string(f.left), std::to_string(f.top),
                                                  std::to_string(f.right), std::to_string(f.bottom)});
            std::printf("  %-28s trimora %7ld", file, ours.maxRssKiB);
            if (haveVips) {
                bench::ChildResult v = bench::Run({"sh", "-c", "exec " + Vips(src, out, f)});
                std::printf("   vips %7ld", v.maxRssKiB);
            }
            std::printf("\n");
            if (std::string(file) == "photo-24mp.jpg") pass = pass && ours.status == 0 && ours.maxRssKiB <= 16 * 1024;
        }
        std::printf("target: 24 MP baseline <= 16384 KiB\n");
    }
    return bench::Verdict(pass);
}
