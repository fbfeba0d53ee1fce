#include "cli/Reporter.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

Reporter::Reporter(size_t jobs, FILE* out, FILE* err, FILE* bar)
    : m_out(out), m_err(err), m_bar(bar), m_percent(jobs, 0), m_state(jobs, 0), m_lines(jobs) {}

Reporter::~Reporter() { Close(); }

void Reporter::Progress(size_t job, int percent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (job >= m_percent.size() || m_state[job] != 0) return;
    percent = std::clamp(percent, 0, 100);
    m_sum += percent - m_percent[job];
    m_percent[job] = percent;
    DrawBarLocked();
}

void Reporter::Message(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearBarLocked();
    std::fprintf(m_err, "%s\n", text.c_str());
    std::fflush(m_err);
    DrawBarLocked();
}

void Reporter::Finish(size_t job, bool ok, const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (job >= m_state.size() || m_state[job] != 0) return;
    m_state[job] = ok ? 1 : -1;
    m_lines[job] = line;
    m_sum += 100 - m_percent[job];
    m_percent[job] = 100;
    ++m_done;
    bool cleared = false;
    while (m_nextLine < m_state.size() && m_state[m_nextLine] != 0) {
        if (!m_lines[m_nextLine].empty()) {
            if (!cleared) ClearBarLocked();
            cleared = true;
            std::fprintf(m_out, "%s\n", m_lines[m_nextLine].c_str());
        }
        m_lines[m_nextLine].clear();
        ++m_nextLine;
    }
    if (cleared) std::fflush(m_out);
    m_shown = -1;  // the count of finished files changed
    DrawBarLocked();
}

void Reporter::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ClearBarLocked();
    m_bar = nullptr;
}

void Reporter::ClearBarLocked() {
    if (!m_bar || !m_barVisible) return;
    std::fputs("\r\033[K", m_bar);
    std::fflush(m_bar);
    m_barVisible = false;
}

void Reporter::DrawBarLocked() {
    if (!m_bar || m_percent.empty()) return;
    const int percent = static_cast<int>(m_sum / static_cast<long>(m_percent.size()));
    // At most one redraw per percent: a hundred files report ten thousand
    // steps between them.
    if (percent == m_shown && m_barVisible) return;
    m_shown = percent;
    constexpr int kWidth = 30;
    char cells[kWidth + 1];
    const int filled = percent * kWidth / 100;
    for (int i = 0; i < kWidth; ++i) cells[i] = i < filled ? '#' : '.';
    cells[kWidth] = '\0';
    std::fprintf(m_bar, "\r[%s] %3d%%  %zu/%zu files", cells, percent, m_done, m_percent.size());
    std::fflush(m_bar);
    m_barVisible = true;
}

void RunParallel(size_t count, unsigned threads, void (*job)(size_t, void*), void* context) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < count; i = next++) job(i, context);
    };
    const size_t extra = std::min<size_t>(threads ? threads - 1 : 0, count ? count - 1 : 0);
    std::vector<std::thread> pool;
    pool.reserve(extra);
    for (size_t t = 0; t < extra; ++t) {
        try {
            pool.emplace_back(work);
        } catch (const std::system_error&) {
            // Fewer threads than asked for still finish the work.
            break;
        }
    }
    work();
    for (std::thread& t : pool) t.join();
}
