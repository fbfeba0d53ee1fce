// The real program as a process: how it stands towards the signals that end
// it in the middle of an export, or that a file-size limit sends.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "tests/platform/TempFolder.h"

namespace {

// A mask line of /proc/PID/status ("SigCgt:", "SigIgn:"), 0 when unreadable.
unsigned long long SignalMask(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, field.size(), field) == 0) return std::stoull(line.substr(field.size()), nullptr, 16);
    return 0;
}

constexpr unsigned long long Bit(int sig) { return 1ull << (sig - 1); }

TEST(AppProcess, EndingSignalsAreCaughtForCleanUpAndAFileSizeLimitOnlyFailsWrites) {
    TempStorage storage;
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) signal(sig, SIG_DFL);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(TRIMORA_APP, TRIMORA_APP, "--root", storage.Root().c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const unsigned long long ending = Bit(SIGINT) | Bit(SIGTERM) | Bit(SIGHUP);
    bool ready = false;
    for (int i = 0; i < 2000 && !ready; ++i) {
        ready = (SignalMask(pid, "SigCgt:") & ending) == ending;
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(ready);
    EXPECT_NE(SignalMask(pid, "SigIgn:") & Bit(SIGXFSZ), 0u);
    // Caught, and still the end a signal gives.
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

}  // namespace
