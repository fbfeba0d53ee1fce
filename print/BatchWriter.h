#pragma once
// The one way a batch of photographs is written into a folder: the window's
// whole order, trimora-cli export, and whatever else writes a list of
// photographs, each with its own settings. Every output name is planned
// before anything is written, so that no photograph of the batch loses its
// file to another one, nor its source to another one's file.
#include <string>
#include <vector>

#include "print/ExportPlan.h"
#include "print/PhotoSettings.h"
#include "print/PrintFormatTable.h"
#include "imaging/Export.h"
#include "platform/ProgressSink.h"

struct BatchItem {
    // Device path; empty for one that is not in the batch (the caller has
    // refused it already and says why itself).
    std::wstring source;
    std::string display;  // the photograph as the user knows it, for messages
    PhotoSettings settings;
    // The file's own device path, when it is not named after the photograph
    // in the folder (a card's DCF names); empty otherwise.
    std::wstring output;
};

enum class BatchRefusal {
    None,
    SameOutput,          // an earlier photograph of the batch writes that file
    ReplacesPhotograph,  // the file would replace another photograph of the batch
    OverwritesSource,    // the file would be the photograph itself
    EmptyFrame,          // nothing of the frame lies on the photograph
    NoFormat,            // its format is none of the table's
};

struct BatchEntry {
    std::wstring outputPath;  // device path ("" when no name could be formed)
    std::string outputHost;   // the same on the host, as messages name it
    BatchRefusal refusal = BatchRefusal::None;
    size_t other = 0;  // SameOutput, ReplacesPhotograph: the photograph it meets
};

class BatchWriter {
public:
    // folder: a device folder path ending with a backslash. Plans every name
    // and refuses the clashes; nothing is read or written yet.
    BatchWriter(const std::wstring& folder, std::vector<BatchItem> items,
                const PrintFormatTable& formats = PrintFormatTable());

    size_t GetCount() const { return m_items.size(); }
    // The item's settings may still change (the frame, once its photograph's
    // size is known); its source and format may not.
    BatchItem& GetItem(size_t i) { return m_items[i]; }
    const BatchItem& GetItem(size_t i) const { return m_items[i]; }
    const BatchEntry& GetEntry(size_t i) const { return m_entries[i]; }

    // The frame's sides in cm for the item's format and orientation.
    float WidthCm(size_t i) const;
    float HeightCm(size_t i) const;

    // The steps before writing item i from its settings as they are now:
    // its own planned refusal, the refusal of its own source, the export
    // rectangle. None: plan holds what to write.
    BatchRefusal Prepare(size_t i, ExportPlan& plan) const;
    // Writes item i as prepared: tone-mapped through its curve, encoded at
    // quality. Returns 1 when the file was written completely.
    int Write(size_t i, const ExportPlan& plan, ProgressSink& progress, int quality, const ExportExtras& extras,
              PhotoReport& report) const;
    // The same from its photograph opened already (source: item i's).
    int Write(size_t i, SourcePhoto& source, const ExportPlan& plan, ProgressSink& progress, int quality,
              const ExportExtras& extras, PhotoReport& report) const;

    // Why item i is refused, in the words of both front ends.
    std::string RefusalText(size_t i, BatchRefusal refusal) const;

private:
    void PlanNames();

    std::wstring m_folder;
    PrintFormatTable m_formats;
    std::vector<BatchItem> m_items;
    std::vector<BatchEntry> m_entries;
};
