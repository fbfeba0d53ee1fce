// Photographs stored on their side against the same photograph unturned:
// the preview against a plain full decode, the full-frame export against the
// unturned one (on one thread, CPU time; and as trimora-cli runs one
// photograph on two cores, a core lent to the export, wall time; and the
// same for trimora-cli's own default frame, its centred 10x15), and the
// export's peak memory as trimora-cli runs it.
// Usage: orient_bench PHOTO TURNED_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]
// TURNED_FOLDER holds copies of PHOTO tagged 3 (turned-3.jpg), 6 and 8.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "print/CropFrame.h"
#include "print/PrintFormatTable.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PHOTO TURNED_FOLDER SCRATCH_FOLDER [RUNS] [EXPORT_RSS_PROGRAM]\n", argv[0]);
        return 2;
    }
    const std::string photo = argv[1], turnedFolder = argv[2], scratch = argv[3];
    const int runs = argc > 4 ? std::atoi(argv[4]) : 7;
    const std::string rssProgram = argc > 5 ? argv[5] : "";
    const std::string out = scratch + "/out.jpg";
    ToneCurve curve;
    NullProgressSink sink;
    int W = 0, H = 0;
    bench::PlainDecode(photo, nullptr, &W, &H);
    if (W == 0) return 2;

    std::printf("fastest of %d rounds, CPU milliseconds; %s, %d x %d stored\n\n", runs, photo.c_str(), W, H);
    std::printf("%-5s | %7s %7s %6s %7s %6s | %7s %7s %6s | %7s %7s %6s\n", "tag", "plain", "Preview", "", "Preview",
                "", "Export", "Export", "", "2 cores", "2 cores", "wall");
    std::printf("%-5s | %7s %7s %6s %7s %6s | %7s %7s %6s | %7s %7s %6s\n", "", "decode", "800x600", "ratio", "236x230",
                "ratio", "upright", "turned", "ratio", "upright", "turned", "ratio");
    bool pass = true;
    // Tag 1 is the photograph itself: what the same work costs unturned.
    for (const int tag : {1, 3, 6, 8}) {
        const std::string turned =
            tag == 1 ? photo : turnedFolder + "/turned-" + std::to_string(tag) + ".jpg";
        if (bench::Run({"test", "-f", turned}).status != 0) continue;
        const std::wstring dturned = bench::DevicePath(turned), dphoto = bench::DevicePath(photo);
        const std::wstring dout = bench::DevicePath(out);
        const bool swap = tag >= 5;
        const CRect uprightFrame(0, 0, W, H), turnedFrame(0, 0, swap ? H : W, swap ? W : H);
        // trimora-cli's default: the 10x15 frame, landscape, in the middle.
        const PrintFormatTable formats;
        auto cliFrame = [&](const CRect& whole) {
            const CRect fitted = FitSourceRect(whole.right, whole.bottom,
                                               formats.FrameWidthCm(DEFAULT_PRINT_FORMAT, FALSE, TRUE),
                                               formats.FrameHeightCm(DEFAULT_PRINT_FORMAT, FALSE, TRUE));
            return CentreRect(whole, fitted.Width(), fitted.Height());
        };
        auto preview = [&](int bw, int bh) {
            CSize box(bw, bh), size;
            PreviewBuffer buffer;
            if (!LoadPreview(dturned, box, size, buffer, sink)) std::abort();
        };
        // As trimora-cli exports one photograph: no tone curve, a core lent.
        auto twoCores = [&](const std::wstring& from, const CRect& frame) {
            bench::OneSpareCore cores;
            ExportExtras extras;
            extras.cores = &cores;
            if (!ExportFramedImageWith(from, dout, frame, sink, nullptr, 95, extras)) std::abort();
        };
        const std::vector<bench::Timing> t = bench::MeasureInRounds(
            runs, {
                      [&] { bench::PlainDecode(turned); },
                      [&] { preview(800, 600); },
                      [&] { preview(236, 230); },
                      [&] {
                          if (!ExportFramedImage(dphoto, dout, uprightFrame, sink, curve, 95)) std::abort();
                      },
                      [&] {
                          if (!ExportFramedImage(dturned, dout, turnedFrame, sink, curve, 95)) std::abort();
                      },
                      [&] { twoCores(dphoto, uprightFrame); },
                      [&] { twoCores(dturned, turnedFrame); },
                      [&] { twoCores(dphoto, cliFrame(uprightFrame)); },
                      [&] { twoCores(dturned, cliFrame(turnedFrame)); },
                  });
        const double p1 = t[1].cpu / t[0].cpu, p2 = t[2].cpu / t[0].cpu, e = t[4].cpu / t[3].cpu;
        const double e2 = t[6].wall / t[5].wall;
        std::printf("%-5d | %7.1f %7.1f %6.3f %7.1f %6.3f | %7.1f %7.1f %6.3f | %7.1f %7.1f %6.3f\n", tag, t[0].cpu,
                    t[1].cpu, p1, t[2].cpu, p2, t[3].cpu, t[4].cpu, e, t[5].wall, t[6].wall, e2);
        const double c2 = t[8].wall / t[7].wall;
        std::printf("      trimora-cli's own frame (10x15, centred), a core lent, wall: upright %.1f, turned %.1f, "
                    "ratio %.3f\n",
                    t[7].wall, t[8].wall, c2);
        if (tag == 1) continue;
        pass = pass && p1 <= 1.15 && p2 <= 1.15 && e <= 1.6 && c2 <= 1.5;

        if (!rssProgram.empty()) {
            const bench::ChildResult r =
                bench::Run({rssProgram, turned, out, "0", "0", std::to_string(turnedFrame.right),
                            std::to_string(turnedFrame.bottom), "spare"});
            std::printf("      peak resident memory of the turned full-frame export, a core lent: %ld KiB\n",
                        r.maxRssKiB);
            pass = pass && r.status == 0 && r.maxRssKiB <= 100 * 1024;
        }
    }
    std::printf("\nPreview ratio = LoadPreview of the turned photograph / plain full decode of it (target <= 1.15)\n"
                "Export ratio  = full-frame export of the turned photograph / of the unturned one, one thread, CPU time\n"
                "                (target <= 1.6)\n"
                "2 cores ratio = the same with a core lent as trimora-cli lends one, wall time\n"
                "own frame     = the same for trimora-cli's default frame, as it exports one photograph (target <= 1.5)\n"
                "memory target: <= 102400 KiB\n");
    return bench::Verdict(pass);
}
