// What a preset pick costs: the table, the mapping of the largest preview
// (800 x 600) through it, and the bitmap made from the result. The baseline
// is the bitmap conversion alone, which every preview pays anyway.
#include <benchmark/benchmark.h>

#include "imaging/DibBitmap.h"
#include "tone/AdjustPreview.h"
#include "tone/Presets.h"

namespace {

constexpr int W = 800, H = 600;

const PreviewBuffer& Preview() {
    static PreviewBuffer preview = [] {
        PreviewBuffer p;
        p.Resize(size_t(W) * H * 3);
        uint32_t s = 12345;
        for (size_t j = 0; j < p.Size(); ++j) {
            s = s * 1103515245u + 12345u;
            p[j] = uint8_t(s >> 24);
        }
        return p;
    }();
    return preview;
}

void BM_UpdateLut(benchmark::State& state) {
    ToneCurve curve;
    ApplyPreset(curve, 7);  // a four-point preset
    for (auto _ : state) {
        curve.UpdateLut();
        benchmark::DoNotOptimize(curve.m_lut);
    }
}
BENCHMARK(BM_UpdateLut);

void BM_MapPreview(benchmark::State& state) {
    ToneCurve curve;
    ApplyPreset(curve, 7);
    curve.UpdateLut();
    ByteBuffer out;
    for (auto _ : state) {
        MapPreviewThroughLut(curve.m_lut, Preview(), out);
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Preview().Size()));
}
BENCHMARK(BM_MapPreview)->Unit(benchmark::kMillisecond);

void BM_BitmapOnly(benchmark::State& state) {
    for (auto _ : state) {
        HBITMAP bm = CreateBitmapFromRgb(Preview().Data(), W, H);
        benchmark::DoNotOptimize(bm);
        DeleteObject(bm);
    }
}
BENCHMARK(BM_BitmapOnly)->Unit(benchmark::kMillisecond);

void BM_PresetPick(benchmark::State& state) {
    ToneCurve curve;
    ApplyPreset(curve, 7);
    HBITMAP adjusted = nullptr;
    for (auto _ : state) {
        RenderAdjustedBitmap(curve, Preview(), W, H, &adjusted);
        benchmark::DoNotOptimize(adjusted);
    }
    DeleteObject(adjusted);
}
BENCHMARK(BM_PresetPick)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
