#pragma once
// A scratch storage root for tests: a fresh host folder, made the device's
// storage root for the test's life, removed afterwards.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/DeviceFs.h"

class TempStorage {
public:
    TempStorage() {
        char pattern[] = "/tmp/trimora-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        m_root = made ? made : "";
        // Readable by others too, so tests can look at it as an unprivileged user.
        chmod(m_root.c_str(), 0755);
        m_previous = devfs::GetStorageRoot();
        devfs::SetStorageRoot(m_root);
    }
    ~TempStorage() {
        devfs::SetStorageRoot(m_previous);
        std::error_code ec;
        // Locked folders would stop the removal.
        for (auto it = std::filesystem::recursive_directory_iterator(
                 m_root, std::filesystem::directory_options::skip_permission_denied, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0755);
        }
        chmod(m_root.c_str(), 0755);
        std::filesystem::remove_all(m_root, ec);
    }
    TempStorage(const TempStorage&) = delete;
    TempStorage& operator=(const TempStorage&) = delete;

    const std::string& Root() const { return m_root; }
    std::string Host(const std::string& relative) const { return m_root + "/" + relative; }

    void Folder(const std::string& relative) const {
        std::filesystem::create_directories(Host(relative));
    }
    void File(const std::string& relative, const std::string& content = "x") const {
        std::filesystem::path p(Host(relative));
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(Host(relative), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void Link(const std::string& target, const std::string& relative) const {
        std::filesystem::create_symlink(target, Host(relative));
    }

private:
    std::string m_root;
    std::string m_previous;
};

// Runs a block without root's power to read every folder, so that folder
// permissions mean what they mean to a user (tests and CI run as root).
class Unprivileged {
public:
    Unprivileged() : m_was(geteuid()) {
        if (m_was == 0) m_ok = seteuid(65534) == 0;
    }
    ~Unprivileged() {
        if (m_was == 0 && m_ok) (void)!seteuid(0);
    }
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

    // False when permissions cannot be made to bite here (root without the
    // right to change its user): such a test has nothing to check.
    static bool Locks(const std::string& hostFolder) {
        DIR* dir = opendir(hostFolder.c_str());
        if (dir) closedir(dir);
        return dir == nullptr;
    }

private:
    uid_t m_was;
    bool m_ok = false;
};
