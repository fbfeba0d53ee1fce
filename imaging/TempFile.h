#pragma once
// A new file written under a hidden temporary name beside its target and put
// in place only once it is complete and on the disk. Readers of the target
// never see half a file, and a failed write leaves an earlier file of that
// name as it was.
//
//     TempFile out;
//     if (!out.Create(hostTarget)) ... out.Error() says why (an errno value)
//     write through out.Stream() (or out.Descriptor())
//     if (!out.Commit()) ... out.Error() says why; nothing is left behind
//         unless the folder no longer lets it be removed: LeftBehind()
//
// The destructor discards a file that was not committed, so every early
// return cleans up. Temporaries that exist are also listed in a fixed,
// process-wide table that a signal handler can read: InstallSignalCleanup
// makes SIGINT, SIGTERM and SIGHUP remove them before the process ends.
//
// The temporary is ".<target name>.<pid>-<n>.tmp" in the target's folder;
// when that would be longer than a file name may be, the target name is cut
// (at a UTF-8 character boundary) so that it fits.
#include <cstdio>
#include <string>

class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    // Creates the temporary for target (a host path), as fopen(target, "wb")
    // would create a file (mode 0666 less the umask); replacing a regular
    // file keeps that file's permissions. False with Error() set.
    bool Create(const std::string& target);

    // The open temporary as a binary stdio stream; null before Create.
    FILE* Stream() const { return m_file; }
    int Descriptor() const { return m_file ? ::fileno(m_file) : -1; }

    // Flushes, syncs and closes the temporary, renames it over the target and
    // syncs the folder. On failure the temporary is removed; false with
    // Error() set.
    bool Commit();

    // Closes and removes the temporary; nothing when there is none.
    void Discard();

    // errno of the first failure, 0 when nothing failed. Write code that
    // fails on its own (a short fwrite) may record its errno here too, so
    // that the first cause is the one reported.
    int Error() const { return m_error; }
    void SetError(int error) {
        if (m_error == 0) m_error = error;
    }

    // A temporary that could not be removed (the folder turned read-only
    // mid-way, say): its host path, so that the user can be told; empty
    // otherwise.
    const std::string& LeftBehind() const { return m_leftBehind; }
    int LeftBehindError() const { return m_leftBehindError; }

    const std::string& Path() const { return m_path; }
    const std::string& Target() const { return m_target; }

    // The temporary's name for a target name, given the counter's value and
    // the longest name the folder takes (bytes). Exposed for tests.
    static std::string TemporaryName(const std::string& targetName, unsigned long pid, unsigned counter,
                                     size_t nameMax);

    // Installs, once per process: SIGINT, SIGTERM and SIGHUP remove every
    // listed temporary and then end the process as the signal would have
    // (signals that were ignored when the process started stay ignored);
    // SIGXFSZ is ignored, so that a file-size limit makes a write fail with
    // EFBIG like a full disk instead of killing the process half-way.
    static void InstallSignalCleanup();

private:
    FILE* m_file = nullptr;
    int m_slot = -1;  // in the signal handler's table, or -1
    int m_error = 0;
    std::string m_path;
    std::string m_target;
    std::string m_leftBehind;
    int m_leftBehindError = 0;
};

// The message that names a temporary the file could not remove.
std::string LeftBehindText(const TempFile& file);
