#include "print/CardOrder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
