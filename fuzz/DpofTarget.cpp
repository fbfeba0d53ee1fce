// One fuzz input is one card's print marks (AUTPRINT.MRK). Whatever the
// bytes, reading them may not crash or leak; every quantity read is 1 to 999
// or marked as unreadable, and no image path of any job resolves to a place
// outside the card.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "print/Dpof.h"
#include "print/UserFile.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "print marks fuzz target: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<DpofJob> jobs;
    std::wstring error;
    if (!ParseDpof(std::string_view(reinterpret_cast<const char*>(data), size), jobs, error)) {
        if (error.empty() || !jobs.empty()) Fail("refused marks without a message, or with jobs");
        return 0;
    }
    for (const DpofJob& job : jobs) {
        if (job.quantity != -1 && (job.quantity < 1 || job.quantity > MAX_DPOF_JOBS)) Fail("a quantity out of range");
        for (const std::string& source : job.sources) {
            std::wstring relative, path;
            if (!FromUtf8(source, relative) || !ResolveRelativePath(L"\\card\\MISC", relative, 1, path)) continue;
            if (path.compare(0, 6, L"\\card\\") != 0 && path != L"\\card") Fail("an image outside the card");
        }
    }
    return 0;
}
