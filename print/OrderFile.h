#pragma once
// An order file: a sitting kept on the storage as UTF-8 JSON, so that it can
// be reopened, run again by the command-line tool, and read by later
// versions. The layout is described in README.md ("Order files").
//
// Photographs are named by paths relative to the order file's folder; a
// path that would leave the storage makes the whole file unreadable, as do
// a cut-short file, another version, a missing field or a value out of
// range: the message says which photograph and what. Fields this version
// does not know are passed over.
#include <functional>
#include <string>
#include <string_view>

#include "print/PrintOrder.h"

constexpr int ORDER_FILE_VERSION = 1;
// An order of a few thousand photographs stays far below this.
constexpr size_t MAX_ORDER_FILE_BYTES = 8u << 20;

// The file's text for order saved as orderPath (a device path).
std::string OrderFileText(const PrintOrder& order, const std::wstring& orderPath);

// Reads text as the order file orderPath. False with a message saying what
// is wrong; order is then left empty.
bool ParseOrderFile(std::string_view text, const std::wstring& orderPath, PrintOrder& order, std::wstring& error);

// Writes the order file the safe way, or reads and parses one. The message
// names the file.
bool SaveOrderFile(const PrintOrder& order, const std::wstring& orderPath, std::wstring& error);
bool LoadOrderFile(const std::wstring& orderPath, PrintOrder& order, std::wstring& error);

// The size a photograph has now, upright, as the window or the tool reads
// it: false when it is missing or cannot be read.
using PhotoSizeReader = std::function<bool(const std::wstring& path, CSize& size)>;

// Takes out of a loaded order the photographs that are gone or no longer of
// the size their frame was laid on; everything else stays. The message
// names each one taken out; empty when none was.
std::wstring LeaveOutChangedPhotographs(PrintOrder& order, const PhotoSizeReader& currentSize);
