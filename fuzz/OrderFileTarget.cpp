// One fuzz input is one order file. Whatever the bytes, reading it may not
// crash or leak; an order it accepts must hold only what the window could
// have made (frames inside their photographs, copies 1 to 999, paths inside
// the storage), and saving that order and reading it again must give it back
// unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "print/OrderFile.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "order file fuzz target: %s\n", what);
    std::abort();
}

bool Same(const PrintOrder& a, const PrintOrder& b) {
    if (a.GetCount() != b.GetCount() || a.m_strLastFolder != b.m_strLastFolder) return false;
    for (size_t i = 0; i < a.GetCount(); ++i) {
        const PhotoSettings& x = a.GetSettings(i);
        const PhotoSettings& y = b.GetSettings(i);
        if (a.GetPath(i) != b.GetPath(i) || a.GetCopies(i) != b.GetCopies(i) || x.nFormat != y.nFormat ||
            x.bRotated != y.bRotated || x.bCorrectLab != y.bCorrectLab || !(x.sizeSource == y.sizeSource) ||
            !(x.rcSource == y.rcSource) || x.nPreset != y.nPreset || x.curve.m_nPoints != y.curve.m_nPoints ||
            std::memcmp(x.curve.m_lut, y.curve.m_lut, sizeof x.curve.m_lut) != 0)
            return false;
        for (int k = 0; k < x.curve.m_nPoints; ++k)
            if (x.curve.m_x[k] != y.curve.m_x[k] || x.curve.m_y[k] != y.curve.m_y[k]) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring orderPath = L"\\Orders\\sitting.json";
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    PrintOrder order;
    std::wstring error;
    if (!ParseOrderFile(text, orderPath, order, error)) {
        if (error.empty() || order.GetCount() != 0) Fail("a refused file without a message, or with photographs");
        return 0;
    }
    for (size_t i = 0; i < order.GetCount(); ++i) {
        const PhotoSettings& s = order.GetSettings(i);
        const CRect& f = s.rcSource;
        if (f.left < 0 || f.top < 0 || f.left > f.right || f.top > f.bottom || f.right > s.sizeSource.cx ||
            f.bottom > s.sizeSource.cy)
            Fail("a frame outside its photograph");
        if (order.GetCopies(i) < 1 || order.GetCopies(i) > MAX_COPIES) Fail("copies out of range");
        if (order.GetPath(i).size() < 2 || order.GetPath(i)[0] != L'\\') Fail("a path outside the storage");
        if (order.GetPath(i).find(L'\0') != std::wstring::npos) Fail("a path with a NUL");
    }
    PrintOrder again;
    if (!ParseOrderFile(OrderFileText(order, orderPath), orderPath, again, error)) Fail("a saved order unreadable");
    if (!Same(order, again)) Fail("a saved order read back otherwise");
    return 0;
}
