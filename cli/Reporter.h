#pragma once
// Everything the export prints goes through here, from whichever worker:
// result lines on stdout in the order the photographs were given, messages on
// stderr as they happen, and a progress bar on a terminal that neither of
// them tears.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ProgressSink.h"

class Reporter {
public:
    // bar: where to draw the progress bar, or null for none.
    Reporter(size_t jobs, FILE* out, FILE* err, FILE* bar);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    void Progress(size_t job, int percent);
    void Message(const std::string& text);
    // A job has ended; line is printed (in job order) unless it is empty.
    void Finish(size_t job, bool ok, const std::string& line);
    // Removes the bar; the lines of every finished job have been printed.
    void Close();

private:
    void ClearBarLocked();
    void DrawBarLocked();

    std::mutex m_mutex;
    FILE* m_out;
    FILE* m_err;
    FILE* m_bar;
    std::vector<int> m_percent;
    std::vector<signed char> m_state;  // 0 running or waiting, 1 written, -1 failed
    std::vector<std::string> m_lines;
    size_t m_nextLine = 0;
    size_t m_done = 0;
    long m_sum = 0;
    int m_shown = -1;
    bool m_barVisible = false;
};

// The progress sink one export job hands to the engine.
class JobProgressSink : public ProgressSink {
public:
    JobProgressSink(Reporter& reporter, size_t job) : m_reporter(reporter), m_job(job) {}
    void PumpOneMessage() override {}
    void DrawProgress(int percent) override { m_reporter.Progress(m_job, percent); }

private:
    Reporter& m_reporter;
    size_t m_job;
};

// Runs job(0) ... job(count - 1) on up to `threads` threads; returns when all
// have ended. The calling thread works too.
void RunParallel(size_t count, unsigned threads, void (*job)(size_t, void*), void* context);
