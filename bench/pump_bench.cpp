// Does keeping the user interface alive slow the decoding down? LoadPreview
// of one photograph with the main window itself as the progress sink (its
// PumpOneMessage and DrawProgress, inside its modal loop), against the same
// with a sink that does nothing.
// Usage: pump_bench PHOTO [RUNS]     (QT_QPA_PLATFORM=offscreen works)
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "BenchUtil.h"
#include "app/MainDialog.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO [RUNS]\n", argv[0]);
        return 2;
    }
    const std::wstring path = bench::DevicePath(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;

    CMainDialog window;
    double plain = 0, pumped = 0;
    QTimer::singleShot(0, [&] {
        NullProgressSink nullSink;
        auto load = [&](ProgressSink& sink) {
            CSize box(236, 230), size;
            PreviewBuffer preview;
            if (!LoadPreview(path, box, size, preview, sink)) std::abort();
        };
        plain = bench::Measure(runs, [&] { load(nullSink); }).cpu;
        pumped = bench::Measure(runs, [&] { load(window); }).cpu;
        window.EndDialog(IDCANCEL);
    });
    window.DoModal();
    std::printf("LoadPreview, fastest of %d runs (CPU time): no-op sink %.1f ms, main window as sink %.1f ms, "
                "ratio %.3f (target <= 1.10)\n",
                runs, plain, pumped, pumped / plain);
    return pumped / plain <= 1.10 ? 0 : 1;
}
