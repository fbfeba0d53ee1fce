// The whole photograph on a white print against a plain full-frame export of
// the same photograph: the white costs no more than encoding it does, that is
// the extra pixels' share of the photograph's own encoding time; and the
// export still holds no more than a batch of the print's rows.
// Usage: whole_bench PHOTOS_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "imaging/Export.h"
#include "print/PrintFormatTable.h"
#include "print/WholePrint.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PHOTOS_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1], scratch = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 7;
    const std::string rssProgram = argc > 4 ? argv[4] : "";
    const std::string out = scratch + "/out.jpg", plainOut = scratch + "/plain.jpg";
    const std::wstring dout = bench::DevicePath(out);
    ToneCurve curve;
    NullProgressSink sink;
    PrintFormatTable table;
    struct Print {
        const char* name;
        int format;
        bool rotated;
    };
    // White beside (a little), above and below (as much again), and beside
    // a wide photograph in a narrow format.
    const Print prints[] = {{"10x15", 2, false}, {"13x18", 3, false}, {"10x15 portrait", 2, true}};

    std::printf("fastest of %d rounds, CPU milliseconds\n\n", runs);
    std::printf("%-16s %-15s | %7s %7s | %7s %6s %7s %7s %6s | %7s %7s %6s\n", "photograph", "print", "encode",
                "plain", "whole", "extra", "allowed", "cost", "ratio", "plain2", "whole2", "ratio2");
    bool pass = true;
    for (const char* file : {"photo-12mp.jpg", "photo-24mp.jpg"}) {
        const std::string photo = folder + "/" + file;
        std::vector<uint8_t> pixels;
        int W = 0, H = 0;
        bench::PlainDecode(photo, &pixels, &W, &H);
        if (W == 0) return 2;
        const std::wstring dphoto = bench::DevicePath(photo);
        const CRect all(0, 0, W, H);
        for (const Print& p : prints) {
            const WholePrint whole = MakeWholePrint(CSize(W, H), table.FrameWidthCm(p.format, p.rotated, TRUE),
                                                    table.FrameHeightCm(p.format, p.rotated, TRUE));
            const ToneLevels levels = ExportLevels(curve);
            const uint8_t* tone = levels.Table();
            ExportExtras extras;
            extras.whiteMargins = MarginsAround(whole);
            bench::OneSpareCore cores;  // trimora-cli's second core for the encoder
            ExportExtras plainTwo, wholeTwo = extras;
            plainTwo.cores = wholeTwo.cores = &cores;
            const std::vector<bench::Timing> t = bench::MeasureInRounds(
                runs, {
                          [&] { bench::PlainEncode(pixels.data(), W * 3, W, H, plainOut); },
                          [&] {
                              if (!ExportFramedImageWith(dphoto, dout, all, sink, tone, 95, {})) std::abort();
                          },
                          [&] {
                              if (!ExportFramedImageWith(dphoto, dout, all, sink, tone, 95, extras)) std::abort();
                          },
                          [&] {
                              if (!ExportFramedImageWith(dphoto, dout, all, sink, tone, 95, plainTwo)) std::abort();
                          },
                          [&] {
                              if (!ExportFramedImageWith(dphoto, dout, all, sink, tone, 95, wholeTwo)) std::abort();
                          },
                      });
            // The white's share: its pixels over the photograph's.
            const double extra = double(whole.print.cx) * whole.print.cy / (double(W) * H) - 1.0;
            const double allowed = extra * t[0].cpu;
            const double cost = t[2].cpu - t[1].cpu;
            const double ratio = allowed > 0 ? cost / allowed : 0.0;
            const double ratio2 = allowed > 0 ? (t[4].cpu - t[3].cpu) / allowed : 0.0;
            std::printf("%-16s %-15s | %7.1f %7.1f | %7.1f %5.0f%% %7.1f %7.1f %6.3f | %7.1f %7.1f %6.3f\n", file,
                        p.name, t[0].cpu, t[1].cpu, t[2].cpu, extra * 100, allowed, cost, ratio, t[3].cpu, t[4].cpu,
                        ratio2);
            pass = pass && ratio <= 1.0;

            if (!rssProgram.empty()) {
                const WhiteMargins& m = extras.whiteMargins;
                const bench::ChildResult plain =
                    bench::Run({rssProgram, photo, out, "0", "0", std::to_string(W), std::to_string(H)});
                const bench::ChildResult white =
                    bench::Run({rssProgram, photo, out, "0", "0", std::to_string(W), std::to_string(H),
                                std::to_string(m.left), std::to_string(m.top), std::to_string(m.right),
                                std::to_string(m.bottom)});
                std::printf("%-32s   peak resident memory: plain %ld KiB, whole %ld KiB\n", "", plain.maxRssKiB,
                            white.maxRssKiB);
                // A batch of the print's rows (16 x 8441 x 3 at the most here) and no more.
                pass = pass && plain.status == 0 && white.status == 0 && white.maxRssKiB <= plain.maxRssKiB + 1024;
            }
        }
    }
    std::printf("\nextra   = the print's pixels over the photograph's, less one\n"
                "allowed = extra x encode (a plain libjpeg encode of the photograph's pixels from memory)\n"
                "cost    = whole - plain (the same photograph exported full-frame, no white)\n"
                "ratio   = cost / allowed (target <= 1); memory target: whole <= plain + 1 MiB\n"
                "plain2, whole2: the same with the encoder on a second core, as trimora-cli runs one photograph\n"
                "        (CPU of both threads; the encoder's thread copies each row into the print's row);\n"
                "        ratio2 = (whole2 - plain2) / allowed, shown, not held to a target\n");
    return bench::Verdict(pass);
}
