#include "print/ExportPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "imaging/PhotoNames.h"
#include "platform/DeviceFs.h"

int32_t RoundToInt(float v) {
    const double x = v;
    if (!std::isfinite(x)) return 0;
    const double f = std::floor(x);
    const float r = static_cast<float>(x - f);
    const double result = f + (r > 0.5f ? 1.0 : 0.0);
    // A frame given by hand can be absurdly large; saturating keeps the
    // conversion defined and the intersection below still comes out right.
    if (result >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (result <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(result);
}

std::wstring MakeOutputPath(const std::wstring& folder, const std::wstring& sourcePath,
                            const std::wstring& suffix) {
    const size_t slash = sourcePath.rfind(L'\\');
    const std::wstring name = slash == std::wstring::npos ? sourcePath : sourcePath.substr(slash + 1);
    std::wstring out = folder + name;
    // Only the first dot counts, and not when it begins the name: ".jpg"
    // stays ".jpg", "img.0001.jpg" becomes "img_10x15.0001.jpg".
    const size_t from = folder.size() + 1;
    if (from < out.size()) {
        const size_t dot = out.find(L'.', from);
        if (dot != std::wstring::npos) out.insert(dot, suffix);
    }
    // A phone photograph is written as a JPEG and named as one.
    if (HasHeifExtension(out)) out.replace(out.rfind(L'.'), std::wstring::npos, L".jpg");
    return out;
}

bool IsSourceFile(const std::wstring& outputPath, const std::wstring& sourcePath) {
    if (outputPath == sourcePath) return true;
    // The device resolves names whatever their case, and the host may link
    // one name to another: only the file's identity tells. stat follows
    // links, so a link to the source counts as the source.
    struct stat out {};
    struct stat src {};
    if (::stat(devfs::ToHostPath(outputPath).c_str(), &out) != 0) return false;
    if (::stat(devfs::ToHostPath(sourcePath).c_str(), &src) != 0) return false;
    return out.st_dev == src.st_dev && out.st_ino == src.st_ino;
}

CRect MakeExportRect(const CRect& rcSource, const CSize& sizeSource, float widthCm, float heightCm) {
    const int64_t sw = sizeSource.cx;
    const int64_t sh = sizeSource.cy;
    // 64 bits: a hand-made frame may span more than 32 bits can hold.
    int64_t left = rcSource.left, top = rcSource.top, right = rcSource.right, bottom = rcSource.bottom;

    if (top == 0 && bottom == sh) {
        const float ratio = widthCm / heightCm;
        const int64_t w = RoundToInt(ratio * static_cast<float>(bottom - top));
        if (right == sw)
            left = right - w;
        else
            right = left + w;
    } else {
        const float ratio = heightCm / widthCm;
        const int64_t h = RoundToInt(ratio * static_cast<float>(right - left));
        if (bottom == sh)
            top = bottom - h;
        else
            bottom = top + h;
    }

    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min(right, sw);
    bottom = std::min(bottom, sh);
    if (left >= right || top >= bottom) return CRect();
    return CRect(static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right),
                 static_cast<int32_t>(bottom));
}

long DotsPerInch(CSize pixels, float widthCm, float heightCm) {
    const double dpiX = pixels.cx * 2.54 / widthCm;
    const double dpiY = pixels.cy * 2.54 / heightCm;
    return std::lround(std::min(dpiX, dpiY));
}

ExportPlanResult PlanExport(const std::wstring& folder, const std::wstring& sourcePath,
                            const std::wstring& suffix, const CRect& rcSource, const CSize& sizeSource,
                            float widthCm, float heightCm, ExportPlan& plan, bool wholePhotograph) {
    plan.outputPath = MakeOutputPath(folder, sourcePath, suffix);
    plan.rcExport = CRect();
    plan.print = WholePrint();
    if (IsSourceFile(plan.outputPath, sourcePath)) return ExportPlanResult::OverwritesSource;
    if (wholePhotograph) {
        plan.rcExport = CRect(0, 0, sizeSource.cx, sizeSource.cy);
        if (plan.rcExport.IsRectEmpty()) return ExportPlanResult::EmptyRect;
        plan.print = MakeWholePrint(sizeSource, widthCm, heightCm);
        return ExportPlanResult::Ready;
    }
    plan.rcExport = MakeExportRect(rcSource, sizeSource, widthCm, heightCm);
    if (plan.rcExport.IsRectEmpty()) return ExportPlanResult::EmptyRect;
    plan.print.print = CSize(plan.rcExport.Width(), plan.rcExport.Height());
    plan.print.photo = CRect(0, 0, plan.print.print.cx, plan.print.print.cy);
    return ExportPlanResult::Ready;
}
