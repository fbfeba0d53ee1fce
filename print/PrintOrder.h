#pragma once
// A sitting: the photographs framed one after another, each with what the
// user chose for it, and where the files went last. The main window asks it
// what a photograph it comes back to looked like, and writes the whole order
// through it, photograph after photograph, on the one export path.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/PrintFormatTable.h"
#include "imaging/Pipeline.h"
#include "platform/ProgressSink.h"
#include "platform/WinTypes.h"
#include "tone/ToneCurve.h"

// What one photograph holds when the user leaves it.
struct PhotoSettings {
    int32_t nFormat = DEFAULT_PRINT_FORMAT;
    BOOL bRotated = FALSE;
    BOOL bCorrectLab = TRUE;
    CSize sizeSource;  // the photograph the frame was laid on
    CRect rcSource;    // the frame, in source pixels
    ToneCurve curve;
    int32_t nPreset = -2;
    BOOL bWholePhoto = FALSE;  // the whole photograph on white, the frame aside

    PhotoSettings() = default;
    PhotoSettings(const PhotoSettings& other) { Assign(other); }
    PhotoSettings& operator=(const PhotoSettings& other) {
        Assign(other);
        return *this;
    }
    void Assign(const PhotoSettings& other);
};

class PrintOrder {
public:
    // Stores what a photograph holds now. One kept for the first time joins
    // the end of the order.
    void Keep(const std::wstring& path, const PhotoSettings& settings);
    // What was kept for a photograph, or null. Device paths match whatever
    // their case, as the device's names do.
    const PhotoSettings* Find(const std::wstring& path) const;

    size_t GetCount() const { return m_entries.size(); }
    const std::wstring& GetPath(size_t i) const { return m_entries[i].path; }
    const PhotoSettings& GetSettings(size_t i) const { return m_entries[i].settings; }

    // The folder picked last for the new files ("" before the first pick).
    std::wstring m_strLastFolder;

private:
    struct Entry {
        std::wstring path;
        std::wstring key;
        PhotoSettings settings;
    };
    std::vector<Entry> m_entries;
};

// How one photograph of the order fared.
struct OrderResult {
    std::wstring sourcePath;
    std::wstring outputPath;  // empty when no name could be formed
    bool ok = false;
    std::wstring why;         // when !ok: short, for the closing message
};

// Writes every photograph of the order into folder (a device folder path
// ending with a backslash), each with its own format, frame and curve, as
// GO! writes one. onPhotograph(i, n) runs before photograph i of n; progress
// sees one line across the whole order. No two photographs of an order
// write the same file, and none overwrites another one's source.
std::vector<OrderResult> WriteOrder(const PrintOrder& order, const std::wstring& folder,
                                    const PrintFormatTable& formats, ProgressSink& progress,
                                    const std::function<void(size_t, size_t)>& onPhotograph = {});

// The closing message of an order: how many files, where, and each failure.
std::wstring OrderMessage(const std::vector<OrderResult>& results, const std::wstring& folder);

// Why a photograph could not be opened or written, in a few words.
std::wstring PhotoFailureText(const PhotoReport& report);
