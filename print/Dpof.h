#pragma once
// A card's print marks (DPOF, MISC\AUTPRINT.MRK), which a lab's kiosk or a
// printer with a card slot reads: which photographs of the card to print and
// how many of each. DPOF carries no frame; the framed pixels are in the files.
//
// Written in revision 1.10: ASCII, CRLF lines, an [HDR] section, then one
// standard [JOB] per photograph naming it relative to MISC. Read as cameras
// write revisions 1.00 and 1.10: upper-case 8.3 names resolved whatever
// their case, standard jobs taken, index prints and other job types noted
// and skipped.
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "print/PrintOrder.h"

// Marks larger than this are not a camera's: a thousand jobs take 150 KB.
constexpr size_t MAX_DPOF_BYTES = 1u << 20;
// A job's number and quantity have three digits.
constexpr int MAX_DPOF_JOBS = 999;

// One photograph to print.
struct DpofPrint {
    std::wstring path;  // device path of the photograph
    int copies = 1;
};

// The marks' text for prints on the card whose root folder is cardRoot (a
// device folder path, with its final backslash), dated when (local time).
// Every path must lie on the card and be ASCII, as DCF names are.
std::string DpofText(const std::vector<DpofPrint>& prints, const std::wstring& cardRoot, const std::tm& when);

// One [JOB] as written, before its image is looked for.
struct DpofJob {
    int line = 0;             // of its [JOB], from 1
    std::string type;         // PRT TYP: "STD", "IDX", ...; empty when absent
    int quantity = 1;         // PRT QTY; 1 when absent, -1 when not a number 1..999
    std::vector<std::string> sources;  // each IMG SRC, as written
};

// Reads the marks' text. False with a message when it is not DPOF or of a
// revision other than 1.xx; jobs are as written, none looked at further.
bool ParseDpof(std::string_view text, std::vector<DpofJob>& jobs, std::wstring& error);

// The photographs a card's marks ask for.
struct DpofMarks {
    std::vector<DpofPrint> prints;
    std::wstring notes;  // one line per job skipped, and why; empty when none was
    // Photographs of standard jobs that cannot be printed (missing, off the
    // card, a wrong quantity): unlike an index print, a part of the order lost.
    size_t lost = 0;
};

// Reads marksPath (a device path, normally <card>\MISC\AUTPRINT.MRK). Each
// standard job's images become prints with its quantity, paths as the
// storage browser names them; a job of another type, or whose image is
// missing or lies outside the card (the folder above the marks' folder), is
// skipped with a note. False with a message naming the file when it cannot
// be read or is not DPOF.
bool ReadDpofMarks(const std::wstring& marksPath, DpofMarks& marks, std::wstring& error);

// True for a path whose name is a card's print marks (AUTPRINT.MRK, any case):
// opened as an order, it stands for the photographs it marks.
bool IsPrintMarksPath(const std::wstring& path);

// Settings for a photograph that joins an order without any (the window's
// fitted frame in its current format, the tool's centred frame in its
// --format): false when the photograph cannot be read.
using DefaultPhotoSettings = std::function<bool(const std::wstring& path, PhotoSettings& settings)>;

// The marks' prints as an order, each photograph with its copies and the
// settings settingsFor gives it. Those it cannot read are left out; the
// message names them (empty when none was).
std::wstring OrderFromMarks(const DpofMarks& marks, const DefaultPhotoSettings& settingsFor, PrintOrder& order);

// Where an order goes on a card: a new DCF folder after the highest one on
// the card, and numbered names after the highest file number there.
struct CardPlan {
    std::wstring folder;              // device path, final backslash: <card>\DCIM\nnnTRIMO\ (not made yet)
    std::vector<std::wstring> names;  // TRIMnnnn.JPG, one per photograph
    std::wstring marksPath;           // <card>\MISC\AUTPRINT.MRK
    bool hasMarks = false;            // the card already has print marks
};

// Plans count photographs onto the card at cardRoot (a device folder path,
// final backslash). False with a message when the card has no folder number
// left, or count is more than one order can hold.
bool PlanCard(const std::wstring& cardRoot, size_t count, CardPlan& plan, std::wstring& error);

// Writes the marks for prints onto the card, the safe way, making MISC when
// needed. Marks already there are replaced only when replaceMarks is set;
// otherwise nothing changes and the message says why.
bool WriteDpofMarks(const std::wstring& cardRoot, const std::vector<DpofPrint>& prints, bool replaceMarks,
                    std::wstring& error);

// The warning for an order of several print formats ("" when it has one):
// a kiosk prints every photograph of a card's order in one size.
std::wstring MixedFormatsWarning(const PrintOrder& order);
