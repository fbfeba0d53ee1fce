#include "imaging/Orientation.h"

#include <cstring>
#include <exception>
#include <mutex>

#include <exiv2/exiv2.hpp>

#include "imaging/Metadata.h"

Orientation::Orientation(int tag) : m_tag(tag >= 1 && tag <= 8 ? tag : 1) {}

CSize Orientation::UprightSize(CSize stored) const {
    return Transposed() ? CSize(stored.cy, stored.cx) : stored;
}

CRect Orientation::ToStored(const CRect& upright, CSize stored) const {
    // Transposing first swaps the axes; mirroring then turns a range
    // [a, b) into [size - b, size - a).
    CRect r = Transposed() ? CRect(upright.top, upright.left, upright.bottom, upright.right) : upright;
    if (MirrorX()) r = CRect(stored.cx - r.right, r.top, stored.cx - r.left, r.bottom);
    if (MirrorY()) r = CRect(r.left, stored.cy - r.bottom, r.right, stored.cy - r.top);
    return r;
}

CRect Orientation::ToUpright(const CRect& storedRect, CSize stored) const {
    CRect r = storedRect;
    if (MirrorX()) r = CRect(stored.cx - r.right, r.top, stored.cx - r.left, r.bottom);
    if (MirrorY()) r = CRect(r.left, stored.cy - r.bottom, r.right, stored.cy - r.top);
    return Transposed() ? CRect(r.top, r.left, r.bottom, r.right) : r;
}

CPoint Orientation::StoredPixel(int32_t x, int32_t y, CSize stored) const {
    int32_t sx = Transposed() ? y : x;
    int32_t sy = Transposed() ? x : y;
    if (MirrorX()) sx = stored.cx - 1 - sx;
    if (MirrorY()) sy = stored.cy - 1 - sy;
    return CPoint(sx, sy);
}

namespace {

constexpr uint8_t EXIF_HEADER[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t ORIENTATION_TAG = 0x0112;

bool IsExif(const uint8_t* payload, size_t size) {
    return size > sizeof EXIF_HEADER && std::memcmp(payload, EXIF_HEADER, sizeof EXIF_HEADER) == 0;
}

}  // namespace

OrientationTag ReadOrientationTag(const uint8_t* payload, size_t size) {
    OrientationTag result;
    if (!IsExif(payload, size)) return result;
    const uint8_t* tiff = payload + sizeof EXIF_HEADER;
    const size_t tiffSize = size - sizeof EXIF_HEADER;
    PrepareMetadataLibrary();
    std::lock_guard<std::mutex> lock(ExivMutex());
    try {
        Exiv2::ExifData exif;
        Exiv2::ExifParser::decode(exif, tiff, static_cast<uint32_t>(tiffSize));
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end()) return result;
        const Exiv2::TypeId type = it->typeId();
        const bool integral = type == Exiv2::unsignedShort || type == Exiv2::unsignedLong ||
                              type == Exiv2::signedShort || type == Exiv2::signedLong ||
                              type == Exiv2::unsignedByte;
        const long value = integral && it->count() == 1 ? it->toLong() : 0;
        if (value >= 1 && value <= 8)
            result.orientation = Orientation(static_cast<int>(value));
        else
            result.damaged = true;
    } catch (...) {
        result = OrientationTag();
        result.damaged = true;
    }
    return result;
}

OrientationTag ReadOrientationTag(const jpeg_decompress_struct& cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || !IsExif(m->data, m->data_length)) continue;
        // A marker cut short by the end of the file keeps only what arrived.
        return ReadOrientationTag(m->data, m->data_length);
    }
    return OrientationTag();
}

