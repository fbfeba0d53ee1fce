// trimora-cli on one large photograph, where its decoder and encoder share
// the two cores, against plain libjpeg doing the same work one after the
// other; and on a batch, where every core already has a photograph of its
// own and nothing may get slower. Also the lossless cut's time and peak
// memory on the same photograph.
// Usage: cli_threads_bench PHOTO_FOLDER SCRATCH_FOLDER TRIMORA_CLI [RUNS] [BASELINE_CLI]
//   BASELINE_CLI: an earlier trimora-cli to hold the batch against.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "platform/WinTypes.h"

namespace {

// The full-width "10x15 cm" frame with the lab correction, as the export
// command fits it to a landscape photograph.
CRect TenByFifteen(int W, int H) {
    const int h = static_cast<int>(std::lround(W * 10.2 / 15.2));
    if (h <= H) return CRect(0, 0, W, h);
    return CRect(0, 0, static_cast<int>(std::lround(H * 15.2 / 10.2)), H);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PHOTO_FOLDER SCRATCH_FOLDER TRIMORA_CLI [RUNS] [BASELINE_CLI]\n", argv[0]);
        return 2;
    }
    const std::string photos = argv[1], scratch = argv[2], cli = argv[3];
    const int runs = argc > 4 ? std::atoi(argv[4]) : 7;
    const std::string baseline = argc > 5 ? argv[5] : "";
    const std::string src = photos + "/photo-24mp.jpg";
    const std::string out = scratch + "/plain.jpg";
    bool pass = true;

    // First, while this process is small: a child's peak counts the parent's
    // pages it started with.
    const std::string one = scratch + "/one", two = scratch + "/two", cut = scratch + "/cut";
    bench::Run({"mkdir", "-p", one, two, cut});
    std::printf("peak resident memory, KiB, of trimora-cli export of the 24 MP photograph:");
    for (const char* mode : {"--jobs=1", "--jobs=2", "--lossless"}) {
        const bench::ChildResult r = bench::Run({cli, "export", src, "--to", cut, mode});
        std::printf("  %s %ld", mode, r.maxRssKiB);
    }
    // Off the origin the transform needs a second coefficient buffer for the frame.
    const bench::ChildResult centred = bench::Run({cli, "export", src, "--to", cut, "--lossless", "--frame=center"});
    std::printf("  --lossless --frame=center %ld", centred.maxRssKiB);
    std::printf("\n\n");

    std::vector<uint8_t> pixels;
    int W = 0, H = 0;
    bench::PlainDecode(src, &pixels, &W, &H);
    if (W == 0) {
        std::fprintf(stderr, "cannot decode %s\n", src.c_str());
        return 1;
    }
    const CRect f = TenByFifteen(W, H);
    // The frame's pixels as a PPM for cjpeg, the way a user of the plain
    // tools would get them out of djpeg.
    const std::string ppm = scratch + "/frame.ppm", ppmFull = scratch + "/full.ppm";
    if (FILE* p = std::fopen(ppm.c_str(), "wb")) {
        std::fprintf(p, "P6\n%d %d\n255\n", f.Width(), f.Height());
        for (int y = f.top; y < f.bottom; ++y)
            std::fwrite(pixels.data() + (static_cast<size_t>(y) * W + f.left) * 3, 3, f.Width(), p);
        std::fclose(p);
    }
    const bool haveTools = bench::Have("djpeg") && bench::Have("cjpeg");
    std::vector<std::function<void()>> work = {
        [&] { bench::PlainDecode(src); },
        [&] {
            bench::PlainEncode(pixels.data() + static_cast<size_t>(f.top) * W * 3 + f.left * 3, W * 3, f.Width(),
                               f.Height(), out);
        },
        [&] { bench::Run({cli, "export", src, "--to", two, "--jobs", "2"}); },
        [&] { bench::Run({cli, "export", src, "--to", one, "--jobs", "1"}); },
        [&] { bench::Run({cli, "export", src, "--to", cut, "--lossless"}); },
    };
    if (haveTools) {
        work.push_back([&] { bench::Run({"djpeg", "-outfile", ppmFull, src}); });
        work.push_back([&] { bench::Run({"cjpeg", "-quality", "95", "-outfile", out, ppm}); });
    }
    const std::vector<bench::Timing> t = bench::MeasureInRounds(runs, work);
    // The plain work runs in this process: its CPU time is what it costs
    // uncontended. trimora-cli runs as a process: its wall time.
    const double plain = t[0].cpu + t[1].cpu;
    // On a busy machine every wall time stretches alike: the plain work's
    // wall time, measured in the same rounds, is the fair yardstick then.
    const double plainWall = t[0].wall + t[1].wall;
    const double ratio = t[2].wall / plainWall;
    std::printf("fastest of %d rounds, milliseconds; 24 MP photograph (%dx%d), full-width 10x15 frame %dx%d\n",
                runs, W, H, f.Width(), f.Height());
    std::printf("  plain decode %.1f + plain q95 encode %.1f = %.1f (CPU time; wall %.1f + %.1f)\n", t[0].cpu,
                t[1].cpu, plain, t[0].wall, t[1].wall);
    std::printf("  trimora-cli export wall times:\n");
    std::printf("  ratios to the plain work's wall time (and to its CPU time):\n");
    std::printf("  trimora-cli export, two cores   %7.1f   ratio %.3f (%.3f) (target <= 0.65)\n", t[2].wall, ratio,
                t[2].wall / plain);
    std::printf("  trimora-cli export --jobs 1     %7.1f   ratio %.3f (%.3f) (one thread)\n", t[3].wall,
                t[3].wall / plainWall, t[3].wall / plain);
    std::printf("  trimora-cli export --lossless   %7.1f   ratio %.3f (%.3f)\n", t[4].wall, t[4].wall / plainWall,
                t[4].wall / plain);
    if (haveTools) {
        const double tools = t[5].wall + t[6].wall;
        std::printf("  djpeg %.1f + cjpeg -quality 95 %.1f = %.1f (processes, wall): two cores ratio %.3f, one %.3f\n",
                    t[5].wall, t[6].wall, tools, t[2].wall / tools, t[3].wall / tools);
    }
    const bool same = bench::Run({"cmp", "-s", one + "/photo-24mp_10x15.jpg", two + "/photo-24mp_10x15.jpg"}).status == 0;
    std::printf("  two-thread file %s the one-thread file\n", same ? "is byte for byte" : "DIFFERS FROM");
    pass = pass && ratio <= 0.65 && same;


    // A batch of 40 photographs of 12 MP on two workers: each core has a
    // photograph of its own until the last one.
    const std::string batch = scratch + "/batch", batchOut = scratch + "/batch-out";
    bench::Run({"mkdir", "-p", batch, batchOut});
    for (int i = 1; i <= 40; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/img_%04d.jpg", i);
        bench::Run({"cp", photos + "/photo-12mp.jpg", batch + name});
    }
    std::vector<std::function<void()>> batchWork = {
        [&] { bench::Run({"sh", "-c", "exec \"$0\" export \"$1\"/*.jpg --to \"$2\" --jobs 2 >/dev/null", cli, batch, batchOut}); },
    };
    if (!baseline.empty())
        batchWork.push_back([&] {
            bench::Run({"sh", "-c", "exec \"$0\" export \"$1\"/*.jpg --to \"$2\" --jobs 2 >/dev/null", baseline, batch,
                        batchOut});
        });
    const std::vector<bench::Timing> b = bench::MeasureInRounds(std::max(1, runs / 2), batchWork);
    std::printf("\n40 x 12 MP, --jobs 2, wall milliseconds: trimora-cli %.1f", b[0].wall);
    if (!baseline.empty()) {
        std::printf("   baseline %.1f   ratio %.3f (target <= 1.0, a few %% of noise)", b[1].wall, b[0].wall / b[1].wall);
        pass = pass && b[0].wall <= b[1].wall * 1.03;
    }
    std::printf("\n\n%s\n", pass ? "all targets met" : "SOME TARGETS MISSED");
    return pass ? 0 : 1;
}
