#include "cli/PreviewFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "imaging/DibBitmap.h"
#include "imaging/TempFile.h"

namespace {

void PutLe16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void PutLe32(std::vector<uint8_t>& b, uint32_t v) {
    PutLe16(b, v & 0xffff);
    PutLe16(b, v >> 16);
}

bool WritePpm(FILE* f, const PreviewBuffer& preview, CSize size) {
    if (std::fprintf(f, "P6\n%d %d\n255\n", size.cx, size.cy) < 0) return false;
    const size_t bytes = static_cast<size_t>(size.cx) * size.cy * 3;
    return std::fwrite(preview.Data(), 1, bytes, f) == bytes;
}

// The bitmap the program would draw, made by the program's own conversion,
// stored as a BMP file. The file declares the picture's own width: the
// bitmap's padding columns are not part of the preview.
bool WriteBmp(FILE* f, const PreviewBuffer& preview, CSize size) {
    const HBITMAP dib = CreateBitmapFromRgb(preview, size.cx, size.cy);
    if (!dib || !dib->bits) {
        if (dib) DeleteObject(dib);
        return false;
    }
    const BITMAPINFOHEADER& h = dib->header;
    const uint32_t rowBytes = (static_cast<uint32_t>(size.cx) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(size.cy);
    std::vector<uint8_t> head;
    head.push_back('B');
    head.push_back('M');
    PutLe32(head, 14 + 40 + imageBytes);
    PutLe32(head, 0);
    PutLe32(head, 14 + 40);
    PutLe32(head, 40);
    PutLe32(head, static_cast<uint32_t>(size.cx));
    PutLe32(head, static_cast<uint32_t>(h.biHeight));  // positive: bottom row first, as in memory
    PutLe16(head, h.biPlanes);
    PutLe16(head, h.biBitCount);
    PutLe32(head, h.biCompression);
    PutLe32(head, imageBytes);
    PutLe32(head, static_cast<uint32_t>(h.biXPelsPerMeter));
    PutLe32(head, static_cast<uint32_t>(h.biYPelsPerMeter));
    PutLe32(head, h.biClrUsed);
    PutLe32(head, h.biClrImportant);
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();

    std::vector<uint8_t> row(rowBytes, 0);
    for (int32_t y = 0; ok && y < size.cy; ++y) {
        std::memcpy(row.data(), dib->bits + static_cast<size_t>(y) * dib->stride, static_cast<size_t>(size.cx) * 3);
        ok = std::fwrite(row.data(), 1, rowBytes, f) == rowBytes;
    }
    DeleteObject(dib);
    return ok;
}

}  // namespace

bool WritePreviewFile(const std::string& path, const PreviewBuffer& preview, CSize size, PreviewFileType type,
                      std::string& error) {
    if (size.cx < 1 || size.cy < 1 || preview.Size() < static_cast<size_t>(size.cx) * size.cy * 3) {
        error = "no preview to write";
        return false;
    }
    TempFile file;
    if (!file.Create(path)) {
        error = std::string("cannot create the file: ") + std::strerror(file.Error());
        return false;
    }
    FILE* f = file.Stream();
    errno = 0;
    const bool ok = type == PreviewFileType::Ppm ? WritePpm(f, preview, size) : WriteBmp(f, preview, size);
    if (!ok) file.SetError(errno ? errno : EIO);
    if (!file.Commit()) {
        error = std::string("cannot write the file: ") + std::strerror(file.Error());
        return false;
    }
    return true;
}
