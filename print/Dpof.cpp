#include "print/Dpof.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "print/HostPhoto.h"
#include "print/PhotoFolder.h"
#include "print/UserFile.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

#ifndef TRIMORA_VERSION
#error "TRIMORA_VERSION comes from the project's version in CMake"
#endif

namespace {

constexpr int MAX_DCF_FOLDER = 999;
constexpr int MAX_DCF_FILE = 9999;

std::string_view Trim(std::string_view s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// "PRT  qty" -> "PRT QTY": writers differ in spaces and case.
std::string Key(std::string_view s) {
    std::string out;
    for (char c : Trim(s)) {
        if (c == ' ' || c == '\t') {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    return out;
}

// A quoted value's text; an unquoted one as it stands.
std::string Unquote(std::string_view value) {
    if (value.empty() || value.front() != '"') return std::string(value);
    const size_t end = value.find('"', 1);
    return std::string(value.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1));
}

// 1..999 from up to three digits; -1 for anything else.
int Quantity(std::string_view value) {
    if (value.empty() || value.size() > 3) return -1;
    int n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return -1;
        n = n * 10 + (c - '0');
    }
    return n >= 1 ? n : -1;
}

bool IsDcfChar(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'_';
}

// The number in digits [from, from + count) of name, or -1.
int DigitsAt(const std::wstring& name, size_t from, size_t count) {
    int n = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (i >= name.size() || name[i] < L'0' || name[i] > L'9') return -1;
        n = n * 10 + (name[i] - L'0');
    }
    return n;
}

// "100CANON" -> 100; -1 when the name is not a DCF folder's.
int DcfFolderNumber(const std::wstring& name) {
    if (name.size() != 8) return -1;
    for (size_t i = 3; i < 8; ++i)
        if (!IsDcfChar(name[i])) return -1;
    const int n = DigitsAt(name, 0, 3);
    return n >= 100 ? n : -1;
}

// "IMG_0042.JPG" -> 42; -1 when the name is not a DCF file's.
int DcfFileNumber(const std::wstring& name) {
    if (name.size() != 12 || name[8] != L'.') return -1;
    for (size_t i : {0, 1, 2, 3, 9, 10, 11})
        if (!IsDcfChar(name[i])) return -1;
    const int n = DigitsAt(name, 4, 4);
    return n >= 1 ? n : -1;
}

bool Exists(const std::wstring& devicePath) {
    struct stat st {};
    return lstat(devfs::ToHostPath(devicePath).c_str(), &st) == 0;
}

bool IsRegularFile(const std::wstring& devicePath) {
    struct stat st {};
    return stat(devfs::ToHostPath(devicePath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsAscii(const std::wstring& text) {
    for (wchar_t c : text)
        if (c < 0x20 || c > 0x7e || c == L'"') return false;
    return true;
}

// Device paths compare as the device's names do, whatever their case.
bool LiesIn(const std::wstring& path, const std::wstring& folder) {
    return devfs::LowerName(path).compare(0, folder.size(), devfs::LowerName(folder)) == 0;
}

// Adds a job's image to the prints; an image two jobs name gets both jobs' copies.
void AddPrint(std::vector<DpofPrint>& prints, const std::wstring& path, int copies) {
    const std::wstring key = devfs::LowerName(path);
    for (DpofPrint& p : prints)
        if (devfs::LowerName(p.path) == key) {
            p.copies = std::min(p.copies + copies, MAX_COPIES);
            return;
        }
    prints.push_back({path, copies});
}

}  // namespace

std::string DpofText(const std::vector<DpofPrint>& prints, const std::wstring& cardRoot, const std::tm& when) {
    char line[64];
    std::snprintf(line, sizeof line, "GEN DTM = %04d:%02d:%02d:%02d:%02d:%02d\r\n", when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    std::string text = "[HDR]\r\nGEN REV = 01.10\r\nGEN CRT = \"Trimora\" -" TRIMORA_VERSION "\r\n";
    text += line;
    const std::wstring misc = cardRoot + L"MISC";
    for (size_t i = 0; i < prints.size(); ++i) {
        std::snprintf(line, sizeof line, "PRT PID = %03zu\r\nPRT TYP = STD\r\nPRT QTY = %03d\r\n", i + 1,
                      prints[i].copies);
        text += "\r\n[JOB]\r\n";
        text += line;
        text += "IMG FMT = EXIF2 -J\r\n<IMG SRC = \"" + RelativePathUtf8(misc, prints[i].path) + "\">\r\n";
    }
    return text;
}

bool ParseDpof(std::string_view text, std::vector<DpofJob>& jobs, std::wstring& error) {
    jobs.clear();
    enum class Section { None, Header, Job, Other } section = Section::None;
    bool header = false;
    std::string revision;
    int lineNumber = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = Trim(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++lineNumber;
        if (line.empty()) continue;
        if (line.front() == '[') {
            const std::string name = Key(line.substr(1, line.find(']') == std::string_view::npos ? std::string_view::npos
                                                                                                 : line.find(']') - 1));
            section = name == "HDR" ? Section::Header : name == "JOB" ? Section::Job : Section::Other;
            header = header || section == Section::Header;
            if (section == Section::Job) jobs.push_back({lineNumber, {}, 1, {}});
            continue;
        }
        std::string_view entry = line;
        if (entry.front() == '<') entry = entry.substr(1, entry.back() == '>' ? entry.size() - 2 : std::string_view::npos);
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string key = Key(entry.substr(0, equals));
        const std::string_view value = Trim(entry.substr(equals + 1));
        if (section == Section::Header && key == "GEN REV") revision = Unquote(value);
        if (section != Section::Job) continue;
        DpofJob& job = jobs.back();
        if (key == "PRT TYP") job.type = Key(value);
        else if (key == "PRT QTY") job.quantity = Quantity(value);
        else if (key == "IMG SRC") job.sources.push_back(Unquote(value));
    }
    if (!header) {
        error = L"not a DPOF print order (it has no [HDR] section)";
    } else if (revision.compare(0, 3, "01.") != 0 || revision.size() != 5) {
        error = L"DPOF revision \"" + FromUtf8(revision) + L"\" is not one Trimora reads (01.00 to 01.10)";
    } else {
        return true;
    }
    jobs.clear();
    return false;
}

bool ReadDpofMarks(const std::wstring& marksPath, DpofMarks& marks, std::wstring& error) {
    marks = DpofMarks();
    std::string text;
    std::vector<DpofJob> jobs;
    if (!ReadUserFile(marksPath, MAX_DPOF_BYTES, text, error) || !ParseDpof(text, jobs, error)) {
        error = marksPath + L": " + error;
        return false;
    }
    const std::wstring folder = FolderOfPath(marksPath);
    const size_t depth = DevicePathParts(folder).size();
    const size_t card = depth > 0 ? depth - 1 : 0;
    for (size_t j = 0; j < jobs.size(); ++j) {
        const DpofJob& job = jobs[j];
        const std::wstring label = FormatW(L"\nJob %zu (line %d): ", j + 1, job.line);
        if (job.type != "STD") {
            marks.notes += label + (job.type == "IDX" ? std::wstring(L"an index print, skipped")
                                                      : L"a print of type \"" + FromUtf8(job.type) + L"\", skipped");
            continue;
        }
        if (job.quantity < 1) {
            marks.notes += label + L"its quantity is not a number from 1 to 999, skipped";
            marks.lost += std::max<size_t>(job.sources.size(), 1);
            continue;
        }
        if (job.sources.empty()) {
            marks.notes += label + L"names no photograph, skipped";
            ++marks.lost;
        }
        for (const std::string& source : job.sources) {
            std::wstring relative, path;
            const std::wstring shown = L"\"" + FromUtf8(source) + L"\"";
            if (!FromUtf8(source, relative) || !ResolveRelativePath(folder, relative, card, path)) {
                marks.notes += label + shown + L" is not a path on the card, skipped";
                ++marks.lost;
                continue;
            }
            const HostPhoto located = IsRegularFile(path)
                                          ? LocateHostPhoto(devfs::ToHostPath(path), devfs::GetStorageRoot())
                                          : HostPhoto{{}, {}, "missing"};
            if (!located.error.empty()) {
                marks.notes += label + shown + L" is missing, skipped";
                ++marks.lost;
                continue;
            }
            AddPrint(marks.prints, located.devicePath, job.quantity);
        }
    }
    if (!marks.notes.empty()) marks.notes = L"Not everything the print marks ask for can be printed:" + marks.notes;
    return true;
}

bool IsPrintMarksPath(const std::wstring& path) {
    return devfs::LowerName(NameOfPath(path)) == L"autprint.mrk";
}

std::wstring OrderFromMarks(const DpofMarks& marks, const DefaultPhotoSettings& settingsFor, PrintOrder& order) {
    order = PrintOrder();
    std::wstring unread;
    for (const DpofPrint& print : marks.prints) {
        PhotoSettings settings;
        if (!settingsFor(print.path, settings)) {
            unread += L"\n" + print.path;
            continue;
        }
        order.Keep(print.path, settings);
        order.SetCopies(order.GetCount() - 1, print.copies);
    }
    return unread.empty() ? unread : L"These marked photographs cannot be opened and were left out:" + unread;
}

bool PlanCard(const std::wstring& cardRoot, size_t count, CardPlan& plan, std::wstring& error) {
    plan = CardPlan();
    if (count > static_cast<size_t>(MAX_DPOF_JOBS)) {
        error = FormatW(L"a card's print order holds at most %d photographs", MAX_DPOF_JOBS);
        return false;
    }
    int topFolder = 99;
    int topFile = 0;
    std::vector<devfs::FindData> folders;
    devfs::FindFiles(cardRoot + L"DCIM\\*.*", folders);
    for (const devfs::FindData& f : folders) {
        const int number = DcfFolderNumber(f.name);
        if (!(f.attributes & FILE_ATTRIBUTE_DIRECTORY) || number < 0) continue;
        topFolder = std::max(topFolder, number);
        std::vector<devfs::FindData> files;
        devfs::FindFiles(cardRoot + L"DCIM\\" + f.name + L"\\*.*", files);
        for (const devfs::FindData& file : files)
            if (!(file.attributes & FILE_ATTRIBUTE_DIRECTORY)) topFile = std::max(topFile, DcfFileNumber(file.name));
    }
    if (topFolder >= MAX_DCF_FOLDER) {
        error = L"the card has a DCIM folder numbered 999, and DCF numbers no folder after it";
        return false;
    }
    plan.folder = cardRoot + FormatW(L"DCIM\\%03dTRIMO\\", topFolder + 1);
    // The new folder is empty: numbers that would pass 9999 start again.
    int next = topFile + 1;
    if (next + static_cast<int>(count) - 1 > MAX_DCF_FILE) next = 1;
    for (size_t i = 0; i < count; ++i) plan.names.push_back(FormatW(L"TRIM%04d.JPG", next + static_cast<int>(i)));
    plan.marksPath = cardRoot + L"MISC\\AUTPRINT.MRK";
    plan.hasMarks = Exists(plan.marksPath);
    return true;
}

bool WriteDpofMarks(const std::wstring& cardRoot, const std::vector<DpofPrint>& prints, bool replaceMarks,
                    std::wstring& error) {
    const std::wstring marksPath = cardRoot + L"MISC\\AUTPRINT.MRK";
    if (prints.size() > static_cast<size_t>(MAX_DPOF_JOBS)) {
        error = FormatW(L"a card's print order holds at most %d photographs", MAX_DPOF_JOBS);
        return false;
    }
    for (const DpofPrint& p : prints)
        if (!IsAscii(p.path) || !LiesIn(p.path, cardRoot) || p.copies < 1 || p.copies > MAX_COPIES) {
            error = p.path + L": cannot be named in a card's print marks";
            return false;
        }
    if (!replaceMarks && Exists(marksPath)) {
        error = L"the card already has print marks (" + marksPath + L"); they were left as they are";
        return false;
    }
    const std::string misc = devfs::ToHostPath(cardRoot + L"MISC");
    if (mkdir(misc.c_str(), 0777) != 0 && errno != EEXIST) {
        error = cardRoot + L"MISC: cannot make the folder (" + FromUtf8(std::strerror(errno)) + L")";
        return false;
    }
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    if (WriteUserFile(marksPath, DpofText(prints, cardRoot, local), error)) return true;
    error = marksPath + L": " + error;
    return false;
}

std::wstring MixedFormatsWarning(const PrintOrder& order) {
    std::vector<int32_t> formats;
    for (size_t i = 0; i < order.GetCount(); ++i)
        if (std::find(formats.begin(), formats.end(), order.GetSettings(i).nFormat) == formats.end())
            formats.push_back(order.GetSettings(i).nFormat);
    if (formats.size() < 2) return {};
    std::wstring names;
    for (int32_t f : formats) names += (names.empty() ? L"" : L", ") + std::wstring(PrintFormatName(f));
    return FormatW(L"The order has photographs in %zu print formats (%ls), but a kiosk prints a card's whole "
                   L"order in one size: put each format on a card of its own.",
                   formats.size(), names.c_str());
}
