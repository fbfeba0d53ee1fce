// One export in a process of its own, without Qt, for measuring its peak
// resident memory from outside (the parent reads it with wait4).
// Usage: export_rss SOURCE DESTINATION LEFT TOP RIGHT BOTTOM [spare] [WHITE_LEFT WHITE_TOP WHITE_RIGHT WHITE_BOTTOM]
// spare: with a core lent as trimora-cli lends one to a single photograph;
// the white: the frame on a white print, as the whole photograph goes.
#include <cstdlib>
#include <cstring>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "imaging/Export.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc < 7) return 2;
    ToneCurve curve;
    NullProgressSink sink;
    const CRect crop(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    int next = 7;
    bench::OneSpareCore cores;
    ExportExtras extras;
    if (argc > next && std::strcmp(argv[next], "spare") == 0) {
        extras.cores = &cores;
        ++next;
    }
    if (argc == next + 4)
        extras.whiteMargins = {std::atoi(argv[next]), std::atoi(argv[next + 1]), std::atoi(argv[next + 2]),
                               std::atoi(argv[next + 3])};
    else if (argc != next)
        return 2;
    return ExportFramedImageWith(bench::DevicePath(argv[1]), bench::DevicePath(argv[2]), crop, sink,
                                 ExportLevels(curve).Table(), 95, extras)
               ? 0
               : 1;
}
