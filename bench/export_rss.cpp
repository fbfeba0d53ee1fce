// One export in a process of its own, without Qt, for measuring its peak
// resident memory from outside (the parent reads it with wait4).
// Usage: export_rss SOURCE DESTINATION LEFT TOP RIGHT BOTTOM [spare]
// spare: with a core lent as trimora-cli lends one to a single photograph.
#include <cstdlib>
#include <cstring>

#include "BenchUtil.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tone/ToneCurve.h"

int main(int argc, char** argv) {
    if (argc != 7 && argc != 8) return 2;
    ToneCurve curve;
    NullProgressSink sink;
    const CRect crop(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]));
    if (argc == 8 && std::strcmp(argv[7], "spare") == 0) {
        bench::OneSpareCore cores;
        ExportExtras extras;
        extras.cores = &cores;
        return ExportFramedImageWith(bench::DevicePath(argv[1]), bench::DevicePath(argv[2]), crop, sink, nullptr, 95,
                                     extras) ? 0 : 1;
    }
    return ExportFramedImage(bench::DevicePath(argv[1]), bench::DevicePath(argv[2]), crop, sink, curve, 95) ? 0 : 1;
}
