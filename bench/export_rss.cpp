// One export in a process of its own, without Qt, for measuring its peak
// resident memory from outside (the parent reads it with wait4).
// Usage: export_rss SOURCE DESTINATION LEFT TOP RIGHT BOTTOM
#include <cstdlib>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc != 7) return 2;
    ToneCurve curve;
    NullProgressSink sink;
    const CRect crop(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    return ExportFramedImage(bench::DevicePath(argv[1]), bench::DevicePath(argv[2]), crop, sink, curve, 95) ? 0 : 1;
}
