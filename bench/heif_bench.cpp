// Decodes a HEIF photograph to upright sRGB rows, as the export would, and
// says how long each step took: opening (structure, metadata, colour
// decision), libheif's decode, and handing on the rows (alpha, colour
// conversion, 16 to 8 bits), in wall and in CPU time (on a shared machine
// the CPU time is the steadier). Run by bench/heif-bench.sh.
// Usage: heif_bench FILE [RUNS] [THREADS]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchUtil.h"
#include "imaging/HeifImage.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: heif_bench FILE [RUNS] [THREADS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    HeifLimits limits;
    limits.decodingThreads = argc > 3 ? std::atoi(argv[3]) : 0;
    double best[4] = {1e18, 1e18, 1e18, 1e18}, bestCpu[4] = {1e18, 1e18, 1e18, 1e18};
    unsigned checksum = 0;
    for (int run = 0; run < runs; ++run) {
        FILE* file = std::fopen(argv[1], "rb");
        if (!file) {
            std::perror(argv[1]);
            return 1;
        }
        const double t0 = bench::Now(), c0 = bench::CpuNow();
        HeifImage image;
        std::string reason;
        if (!image.Open(file, limits, reason)) {
            std::fprintf(stderr, "%s: %s\n", argv[1], reason.c_str());
            return 1;
        }
        const double t1 = bench::Now(), c1 = bench::CpuNow();
        if (!image.Decode(reason)) {
            std::fprintf(stderr, "%s: %s\n", argv[1], reason.c_str());
            return 1;
        }
        const double t2 = bench::Now(), c2 = bench::CpuNow();
        checksum = 0;
        while (const uint8_t* row = image.NextRow()) checksum = checksum * 31 + row[0] + row[image.Width() * 3 - 1];
        const double t3 = bench::Now(), c3 = bench::CpuNow();
        image.ReleasePixels();
        std::fclose(file);
        const double steps[4] = {t1 - t0, t2 - t1, t3 - t2, t3 - t0};
        const double cpu[4] = {c1 - c0, c2 - c1, c3 - c2, c3 - c0};
        for (int i = 0; i < 4; ++i) {
            best[i] = std::min(best[i], steps[i]);
            bestCpu[i] = std::min(bestCpu[i], cpu[i]);
        }
        if (run == 0)
            std::printf("%s: %u x %u, %d bits, %s, colour %s\n", argv[1], image.Width(), image.Height(),
                        image.BitDepth(), image.Codec().c_str(), image.ConvertsColour() ? "converted" : "as it is");
    }
    std::printf("best of %d, wall: open %.1f ms, decode %.1f ms, rows %.1f ms, total %.1f ms (checksum %08x)\n", runs,
                best[0], best[1], best[2], best[3], checksum);
    std::printf("best of %d, CPU (all threads): open %.1f ms, decode %.1f ms, rows %.1f ms, total %.1f ms\n", runs,
                bestCpu[0], bestCpu[1], bestCpu[2], bestCpu[3]);
    return 0;
}
