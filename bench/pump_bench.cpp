// Does keeping a Qt user interface alive between rows slow the decoding
// down? LoadPreview of one photograph with a sink that runs Qt's event loop
// once per row, against the same with a sink that does nothing.
// Usage: pump_bench PHOTO [RUNS]     (QT_QPA_PLATFORM=offscreen works)
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

#include "BenchUtil.h"
#include "imaging/Pipeline.h"

namespace {

// What a main window's pump does per row: dispatch what is waiting, run the
// idle work, and repaint its progress line when the percentage changes.
class QtPumpSink : public ProgressSink {
public:
    explicit QtPumpSink(QWidget* w) : m_window(w) {}
    void PumpOneMessage() override {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void DrawProgress(int percent) override {
        m_percent = percent;
        m_window->update(0, 0, m_window->width(), 2);
    }

private:
    QWidget* m_window;
    int m_percent = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO [RUNS]\n", argv[0]);
        return 2;
    }
    const std::wstring path = bench::DevicePath(argv[1]);
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    QWidget window;
    window.resize(240, 320);
    window.show();
    QCoreApplication::processEvents();

    QtPumpSink qtSink(&window);
    NullProgressSink nullSink;
    auto load = [&](ProgressSink& sink) {
        CSize box(236, 230), size;
        PreviewBuffer preview;
        if (!LoadPreview(path, box, size, preview, sink)) std::abort();
    };
    const double plain = bench::Measure(runs, [&] { load(nullSink); }).cpu;
    const double pumped = bench::Measure(runs, [&] { load(qtSink); }).cpu;
    std::printf("LoadPreview, fastest of %d runs (CPU time): no-op sink %.1f ms, Qt event pump %.1f ms, ratio %.3f (target <= 1.10)\n",
                runs, plain, pumped, pumped / plain);
    return pumped / plain <= 1.10 ? 0 : 1;
}
