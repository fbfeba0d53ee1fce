#pragma once
// An order written onto a card for a kiosk: the framed photographs into a new
// DCF folder under their DCF names, then the print marks that list them with
// their copies. Each photograph is written by the caller's writer (the one
// batch writer, as the folder export writes it), so that the card gets the
// same bytes.
#include <functional>
#include <string>
#include <vector>

#include "print/Dpof.h"
#include "print/PrintFormatTable.h"
#include "print/PrintOrder.h"
#include "platform/ProgressSink.h"

// Writes photograph index of the order as the file outputPath (a device
// path); true when it was written.
using CardPhotoWriter = std::function<bool(size_t index, const std::wstring& outputPath)>;

// Plans the card at cardRoot (a device folder path, final backslash). When
// the card already has print marks and replaceMarks is not set, nothing is
// written and the message says so. Otherwise makes the new folder, writes
// each photograph through writePhoto (written[i] says which were), and the
// marks for those written. A photograph that fails leaves a gap in the
// numbers; when none was written the folder is taken away again and the
// marks are left as they were. False with a message when nothing could be
// planned or made, or the marks could not be written.
bool WriteOrderToCard(const PrintOrder& order, const std::wstring& cardRoot, bool replaceMarks,
                      const CardPhotoWriter& writePhoto, CardPlan& plan, std::vector<bool>& written,
                      std::wstring& error);

// The window's way onto a card: the order planned on the card, each
// photograph written through the one batch writer under its DCF name, as
// Ctrl+Shift+G writes it into a folder, then the marks. results has one entry
// per photograph once any was tried, and none when the card could not be
// planned or its folder made (the message says why). False with a message
// when the marks were not written.
bool WriteOrderOntoCard(const PrintOrder& order, const std::wstring& cardRoot, bool replaceMarks,
                        const PrintFormatTable& formats, ProgressSink& progress,
                        const std::function<void(size_t, size_t)>& onPhotograph, CardPlan& plan,
                        std::vector<OrderResult>& results, std::wstring& error);

// The closing message of an order written onto a card: the files and their
// folder, the marks and the prints they ask for (or why there are none), the
// warning for several formats, and each photograph's failure and notes.
std::wstring CardOrderMessage(const PrintOrder& order, const std::vector<OrderResult>& results,
                              const CardPlan& plan, const std::wstring& error);
