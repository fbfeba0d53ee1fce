#pragma once
// Small helpers shared by the benchmark programs: timing, running a peer
// program, plain libjpeg decode and encode.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <csetjmp>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/Export.h"
#include "platform/Strings.h"

namespace bench {

inline double Now() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The fastest of runs calls, in milliseconds, after one warm-up call: on a
// shared machine the minimum is the best estimate of the uncontended time.
// CPU time for work done in this process (the other programs on the machine
// barely touch it), wall time for work done by child processes.
struct Timing {
    double wall = 0;
    double cpu = 0;
};

inline Timing Measure(int runs, const std::function<void()>& work) {
    work();
    Timing best{1e300, 1e300};
    for (int i = 0; i < runs; ++i) {
        const double w = Now(), c = CpuNow();
        work();
        best.cpu = std::min(best.cpu, CpuNow() - c);
        best.wall = std::min(best.wall, Now() - w);
    }
    return best;
}

// Several pieces of work timed in rounds, each piece once per round, so that
// a burst of load on the machine hits all of them alike instead of spoiling
// every run of one. Returns the fastest time of each (one warm-up round).
inline std::vector<Timing> MeasureInRounds(int rounds, const std::vector<std::function<void()>>& work) {
    std::vector<Timing> best(work.size(), Timing{1e300, 1e300});
    for (const auto& w : work) w();
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < work.size(); ++i) {
            const double w = Now(), c = CpuNow();
            work[i]();
            best[i].cpu = std::min(best[i].cpu, CpuNow() - c);
            best[i].wall = std::min(best[i].wall, Now() - w);
        }
    }
    return best;
}

// The cores trimora-cli lends an export of one photograph on a machine of
// two: the encoder (or a second decoder) may take one more.
struct OneSpareCore : SpareCores {
    int spare = 1;
    bool Claim() override { return spare > 0 ? (--spare, true) : false; }
    void Release() override { ++spare; }
};

// The closing line of a benchmark with targets, and its exit status.
inline int Verdict(bool pass) {
    std::printf("\n%s\n", pass ? "all targets met" : "SOME TARGETS MISSED");
    return pass ? 0 : 1;
}

struct ChildResult {
    int status = -1;
    double ms = 0;
    long maxRssKiB = 0;
};

// Runs a program and waits for it; stdout and stderr go to /dev/null unless
// keepOutput.
inline ChildResult Run(const std::vector<std::string>& argv, bool keepOutput = false) {
    ChildResult r;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const double start = Now();
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!keepOutput) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    r.ms = Now() - start;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.maxRssKiB = usage.ru_maxrss;
    return r;
}

inline bool Have(const char* program) {
    return Run({"sh", "-c", std::string("command -v ") + program}).status == 0;
}

// "/tmp/x.jpg" as the device path the pipeline takes, with the storage root
// left at "/".
inline std::wstring DevicePath(const std::string& host) {
    std::wstring w = FromUtf8(host);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return w;
}

// The peer of LoadPreview: every row decoded, one call per row, defaults.
inline void PlainDecode(const std::string& path, std::vector<uint8_t>* keep = nullptr, int* width = nullptr,
                        int* height = nullptr) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    jpeg_decompress_struct d{};
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    const size_t stride = static_cast<size_t>(d.output_width) * d.output_components;
    if (keep) keep->resize(stride * d.output_height);
    std::vector<JSAMPLE> row(stride);
    while (d.output_scanline < d.output_height) {
        JSAMPROW p = keep ? keep->data() + stride * d.output_scanline : row.data();
        jpeg_read_scanlines(&d, &p, 1);
    }
    if (width) *width = static_cast<int>(d.output_width);
    if (height) *height = static_cast<int>(d.output_height);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
}

// The peer of the export's encoding half: q95 baseline from memory to a file.
inline void PlainEncode(const uint8_t* rgb, int stride, int width, int height, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = width;
    c.image_height = height;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < height; ++y) {
        JSAMPROW p = const_cast<JSAMPROW>(rgb + static_cast<size_t>(y) * stride);
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

}  // namespace bench
