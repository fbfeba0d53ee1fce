#pragma once
// A sitting: the photographs framed one after another, each with what the
// user chose for it, and where the files went last. The main window asks it
// what a photograph it comes back to looked like, and writes the whole order
// through it, photograph after photograph, on the one export path.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "print/BatchWriter.h"
#include "print/PhotoMessages.h"
#include "print/PhotoSettings.h"
#include "print/PrintFormatTable.h"
#include "platform/ProgressSink.h"

// A kiosk's print order counts copies in three digits.
constexpr int MAX_COPIES = 999;

class PrintOrder {
public:
    // Stores what a photograph holds now. One kept for the first time joins
    // the end of the order.
    void Keep(const std::wstring& path, const PhotoSettings& settings);
    // What was kept for a photograph, or null. Device paths match whatever
    // their case, as the device's names do.
    const PhotoSettings* Find(const std::wstring& path) const;
    // The photograph's place in the order, matched as Find matches; GetCount()
    // when it is not in it.
    size_t IndexOf(const std::wstring& path) const;

    size_t GetCount() const { return m_entries.size(); }
    const std::wstring& GetPath(size_t i) const { return m_entries[i].path; }
    const PhotoSettings& GetSettings(size_t i) const { return m_entries[i].settings; }
    // Prints wanted of photograph i: copies, not files (1 when it joins).
    int GetCopies(size_t i) const { return m_entries[i].copies; }
    void SetCopies(size_t i, int copies) { m_entries[i].copies = copies; }
    void Remove(size_t i) { m_entries.erase(m_entries.begin() + static_cast<std::ptrdiff_t>(i)); }

    // The folder picked last for the new files ("" before the first pick).
    std::wstring m_strLastFolder;

private:
    struct Entry {
        std::wstring path;
        std::wstring key;
        PhotoSettings settings;
        int copies = 1;
    };
    std::vector<Entry> m_entries;
};

// How one photograph of the order fared.
struct OrderResult {
    std::wstring sourcePath;
    std::wstring display;     // the photograph on this computer, as the message names it
    std::wstring outputPath;  // empty when no name could be formed
    bool ok = false;
    std::wstring why;         // when !ok, in trimora-cli's words
    // When ok: what the print's buyer should know (low resolution, damage).
    std::vector<std::wstring> notes;
};

// The order's photographs as items of the one batch writer, each with its
// own settings; outputs, when given, are their files' own device paths (a
// card's DCF names), one per photograph.
std::vector<BatchItem> OrderBatchItems(const PrintOrder& order, const std::vector<std::wstring>& outputs = {});

// Writes photograph i of an order's batch as the window writes it: refused,
// failed or written, with what the print's buyer should know. progress sees
// photograph i's share of one line across the whole batch.
OrderResult WriteOrderPhotograph(const BatchWriter& batch, size_t i, ProgressSink& progress);

// Writes every photograph of the order into folder (a device folder path
// ending with a backslash), each with its own format, frame and curve, as
// GO! writes one, through the batch writer that trimora-cli uses.
// onPhotograph(i, n) runs before photograph i of n; progress sees one line
// across the whole order. No two photographs of an order write the same
// file, and none overwrites another one's source.
std::vector<OrderResult> WriteOrder(const PrintOrder& order, const std::wstring& folder,
                                    const PrintFormatTable& formats, ProgressSink& progress,
                                    const std::function<void(size_t, size_t)>& onPhotograph = {});

// The closing message of an order: how many files, where, each failure, and
// each print written at low resolution or from a damaged photograph.
std::wstring OrderMessage(const std::vector<OrderResult>& results, const std::wstring& folder);
