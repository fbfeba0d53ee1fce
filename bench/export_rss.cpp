// One export in a process of its own, without Qt, for measuring its peak
// resident memory from outside (the parent reads it with wait4).
// Usage: export_rss SOURCE DESTINATION LEFT TOP RIGHT BOTTOM [WHITE_LEFT WHITE_TOP WHITE_RIGHT WHITE_BOTTOM]
// (the white: the frame on a white print, as the whole photograph goes)
#include <cstdlib>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "imaging/Export.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc != 7 && argc != 11) return 2;
    ToneCurve curve;
    NullProgressSink sink;
    const CRect crop(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    ExportExtras extras;
    if (argc == 11)
        extras.whiteMargins = {std::atoi(argv[7]), std::atoi(argv[8]), std::atoi(argv[9]), std::atoi(argv[10])};
    return ExportFramedImageWith(bench::DevicePath(argv[1]), bench::DevicePath(argv[2]), crop, sink,
                                 ExportLevels(curve).Table(), 95, extras)
               ? 0
               : 1;
}
