#include "imaging/TempFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

namespace {

// The table the signal handler reads. Everything in it is a lock-free atomic,
// so the handler may look at it whatever the interrupted code was doing.
// A slot's sequence number is odd while its path is being changed; the
// handler copies a path and uses it only when the number was even and the
// same before and after the copy.
constexpr int SLOTS = 64;

struct Slot {
    std::atomic<bool> taken{false};
    std::atomic<unsigned> sequence{0};
    std::atomic<char> path[PATH_MAX];
};

Slot g_slots[SLOTS];

// Set by the handler: a temporary created from now on removes itself.
std::atomic<bool> g_ending{false};
// Threads between listing a temporary and knowing whether to keep it.
std::atomic<int> g_creating{0};

void WritePath(Slot& slot, const char* path) {
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
    size_t i = 0;
    for (; path[i] != '\0'; ++i) slot.path[i].store(path[i], std::memory_order_relaxed);
    slot.path[i].store('\0', std::memory_order_relaxed);
    slot.sequence.fetch_add(1, std::memory_order_acq_rel);
}

// A full table only means that this temporary is not removed on a signal.
int Register(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < SLOTS; ++i) {
        bool expected = false;
        if (g_slots[i].taken.compare_exchange_strong(expected, true)) {
            WritePath(g_slots[i], path.c_str());
            return i;
        }
    }
    return -1;
}

void Unregister(int& slot) {
    if (slot < 0) return;
    WritePath(g_slots[slot], "");
    g_slots[slot].taken.store(false);
    slot = -1;
}

// Async-signal-safe.
void RemoveListed() {
    char path[PATH_MAX];
    for (Slot& slot : g_slots) {
        if (!slot.taken.load()) continue;
        // Another thread may be changing the slot; it finishes quickly. The
        // interrupted thread itself may be, too: it has not created the
        // file yet then, so giving up is right.
        for (int attempt = 0; attempt < 100000; ++attempt) {
            const unsigned before = slot.sequence.load(std::memory_order_acquire);
            if (before & 1u) continue;
            size_t i = 0;
            for (; i + 1 < PATH_MAX; ++i) {
                path[i] = slot.path[i].load(std::memory_order_relaxed);
                if (path[i] == '\0') break;
            }
            path[i] = '\0';
            std::atomic_thread_fence(std::memory_order_acquire);
            if (slot.sequence.load(std::memory_order_relaxed) != before) continue;
            if (path[0] != '\0') ::unlink(path);
            break;
        }
    }
}

void RemoveTemporariesAndEnd(int sig) {
    const int saved = errno;
    g_ending.store(true);
    RemoveListed();
    // A temporary another thread is creating at this moment was either listed
    // in time for the pass above or is removed by its creator; wait briefly
    // for such creators, then look once more.
    for (int i = 0; i < 200 && g_creating.load() > 0; ++i) {
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
    RemoveListed();
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    ::sigaction(sig, &byDefault, nullptr);
    // Blocked until this handler returns; then the default action ends the
    // process with the status the signal gives.
    ::raise(sig);
    errno = saved;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

TempFile::~TempFile() { Discard(); }

std::string TempFile::TemporaryName(const std::string& targetName, unsigned long pid, unsigned counter,
                                    size_t nameMax) {
    const std::string suffix = "." + std::to_string(pid) + "-" + std::to_string(counter) + ".tmp";
    const size_t budget = nameMax > suffix.size() + 1 ? nameMax - suffix.size() - 1 : 0;
    size_t keep = targetName.size();
    if (keep > budget) {
        keep = budget;
        // Not inside a character: back up to the first byte of the one cut.
        while (keep > 0 && (static_cast<unsigned char>(targetName[keep]) & 0xC0) == 0x80) --keep;
    }
    return "." + targetName.substr(0, keep) + suffix;
}

bool TempFile::Create(const std::string& target) {
    Discard();
    m_error = 0;
    m_target = target;
    const size_t slash = target.rfind('/');
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string prefix = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    long nameMax = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (nameMax <= 0 || nameMax > NAME_MAX) nameMax = NAME_MAX;

    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_path = prefix + TemporaryName(name, static_cast<unsigned long>(::getpid()), counter++,
                                        static_cast<size_t>(nameMax));
        // Listed before it exists, so that there is no moment in which a
        // signal could find the file but not the entry.
        g_creating.fetch_add(1);
        m_slot = Register(m_path);
        int fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        int error = errno;
        if (fd >= 0 && g_ending.load()) {
            ::close(fd);
            ::unlink(m_path.c_str());
            fd = -1;
            error = EINTR;
        }
        g_creating.fetch_sub(1);
        if (fd < 0) {
            Unregister(m_slot);
            if (error == EEXIST) continue;
            m_error = error;
            break;
        }
        struct stat st;
        if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
        m_file = ::fdopen(fd, "wb");
        if (m_file) return true;
        m_error = errno;
        ::close(fd);
        ::unlink(m_path.c_str());
        Unregister(m_slot);
        break;
    }
    if (m_error == 0) m_error = EEXIST;
    m_path.clear();
    return false;
}

bool TempFile::Commit() {
    if (!m_file) {
        SetError(EBADF);
        Discard();
        return false;
    }
    // The bytes must be on the disk before the rename makes them the target.
    if (std::fflush(m_file) != 0) SetError(errno);
    if (std::ferror(m_file)) SetError(EIO);
    if (m_error == 0 && ::fsync(::fileno(m_file)) != 0) SetError(errno);
    if (std::fclose(m_file) != 0) SetError(errno);
    m_file = nullptr;
    if (m_error == 0 && ::rename(m_path.c_str(), m_target.c_str()) != 0) SetError(errno);
    if (m_error != 0) {
        Discard();
        return false;
    }
    Unregister(m_slot);
    m_path.clear();
    const int dir = ::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void TempFile::Discard() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_path.empty() && ::unlink(m_path.c_str()) != 0 && errno != ENOENT) {
        m_leftBehind = m_path;
        m_leftBehindError = errno;
    }
    Unregister(m_slot);
    m_path.clear();
}

std::string LeftBehindText(const TempFile& file) {
    return "the unfinished file " + file.LeftBehind() + " cannot be removed (" +
           std::strerror(file.LeftBehindError()) + "); delete it by hand";
}

void TempFile::InstallSignalCleanup() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = RemoveTemporariesAndEnd;
        sigemptyset(&action.sa_mask);
        const int ending[] = {SIGINT, SIGTERM, SIGHUP};
        for (int sig : ending) sigaddset(&action.sa_mask, sig);
        for (int sig : ending) {
            struct sigaction before {};
            if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
            ::sigaction(sig, &action, nullptr);
        }
        ::signal(SIGXFSZ, SIG_IGN);
    });
}
