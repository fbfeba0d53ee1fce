#include "print/CardOrder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "print/BatchWriter.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

namespace {

bool MakeFolder(const std::wstring& devicePath, std::wstring& error) {
    if (mkdir(devfs::ToHostPath(devicePath).c_str(), 0777) == 0 || errno == EEXIST) return true;
    error = devicePath + L": cannot make the folder (" + FromUtf8(std::strerror(errno)) + L")";
    return false;
}

}  // namespace

bool WriteOrderToCard(const PrintOrder& order, const std::wstring& cardRoot, bool replaceMarks,
                      const CardPhotoWriter& writePhoto, CardPlan& plan, std::vector<bool>& written,
                      std::wstring& error) {
    written.assign(order.GetCount(), false);
    if (!PlanCard(cardRoot, order.GetCount(), plan, error)) return false;
    if (plan.hasMarks && !replaceMarks) {
        error = L"the card already has print marks (" + plan.marksPath + L"); nothing was written";
        return false;
    }
    // The new folder must be new: a folder of that number made meanwhile
    // holds someone else's files.
    if (!MakeFolder(cardRoot + L"DCIM", error)) return false;
    const std::string folder = devfs::ToHostPath(plan.folder);
    if (mkdir(folder.c_str(), 0777) != 0) {
        error = plan.folder + L": cannot make the folder (" + FromUtf8(std::strerror(errno)) + L")";
        return false;
    }
    std::vector<DpofPrint> prints;
    for (size_t i = 0; i < order.GetCount(); ++i) {
        const std::wstring output = plan.folder + plan.names[i];
        written[i] = writePhoto(i, output);
        if (written[i]) prints.push_back({output, order.GetCopies(i)});
    }
    if (prints.empty()) {
        rmdir(folder.c_str());
        error = L"no photograph of the order was written, so the card's print marks were left as they were";
        return false;
    }
    return WriteDpofMarks(cardRoot, prints, replaceMarks, error);
}

bool WriteOrderOntoCard(const PrintOrder& order, const std::wstring& cardRoot, bool replaceMarks,
                        const PrintFormatTable& formats, ProgressSink& progress,
                        const std::function<void(size_t, size_t)>& onPhotograph, CardPlan& plan,
                        std::vector<OrderResult>& results, std::wstring& error) {
    results.clear();
    const size_t count = order.GetCount();
    if (!PlanCard(cardRoot, count, plan, error)) return false;
    std::vector<std::wstring> outputs;
    for (const std::wstring& name : plan.names) outputs.push_back(plan.folder + name);
    const BatchWriter batch(plan.folder, OrderBatchItems(order, outputs), formats);
    std::vector<OrderResult> tried(count);
    bool anyTried = false;
    std::vector<bool> written;
    const bool ok = WriteOrderToCard(
        order, cardRoot, replaceMarks,
        [&](size_t i, const std::wstring& output) {
            anyTried = true;
            if (onPhotograph) onPhotograph(i, count);
            // Planned again when written: a folder made meanwhile moves it,
            // and the batch's names are no longer the card's.
            if (output != batch.GetEntry(i).outputPath) {
                tried[i].sourcePath = order.GetPath(i);
                tried[i].display = FromUtf8(batch.GetItem(i).display);
                tried[i].why = L"the card changed while the order was written onto it";
                return false;
            }
            tried[i] = WriteOrderPhotograph(batch, i, progress);
            return tried[i].ok;
        },
        plan, written, error);
    if (anyTried) results = std::move(tried);
    return ok;
}

std::wstring CardOrderMessage(const PrintOrder& order, const std::vector<OrderResult>& results,
                              const CardPlan& plan, const std::wstring& error) {
    std::wstring text = OrderMessage(results, plan.folder);
    std::wstring marks;
    if (error.empty()) {
        int prints = 0;
        for (size_t i = 0; i < results.size() && i < order.GetCount(); ++i)
            prints += results[i].ok ? order.GetCopies(i) : 0;
        marks = FormatW(prints == 1 ? L"The print marks \"%ls\" ask for %d print."
                                    : L"The print marks \"%ls\" ask for %d prints.",
                        plan.marksPath.c_str(), prints);
    } else {
        marks = error;
        if (!marks.empty() && marks[0] >= L'a' && marks[0] <= L'z') marks[0] = static_cast<wchar_t>(marks[0] - L'a' + L'A');
    }
    // The marks belong with the files: right after the line that counts them.
    const std::wstring mixed = MixedFormatsWarning(order);
    if (!mixed.empty()) marks += L"\n" + mixed;
    const size_t firstLine = text.find(L'\n');
    text.insert(firstLine == std::wstring::npos ? text.size() : firstLine, L"\n" + marks);
    return text;
}
