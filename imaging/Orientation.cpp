#include "imaging/Orientation.h"

#include <cstring>
#include <exception>
#include <mutex>

#include <exiv2/exiv2.hpp>

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

// exiv2 keeps global state (its log level, lazily built tables); one reader
// at a time, and it never speaks: a damaged record is reported by the caller.
std::mutex g_exiv2;

void MuteExiv2() {
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

}  // namespace

OrientationTag ReadOrientationTag(const uint8_t* payload, size_t size) {
    OrientationTag result;
    if (!IsExif(payload, size)) return result;
    const uint8_t* tiff = payload + sizeof EXIF_HEADER;
    const size_t tiffSize = size - sizeof EXIF_HEADER;
    MuteExiv2();
    std::lock_guard<std::mutex> lock(g_exiv2);
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

bool MarkExifUpright(std::vector<JOCTET>& payload) {
    // Walked by hand rather than rewritten through exiv2: the record stays
    // byte for byte what it was but for the one value.
    if (!IsExif(payload.data(), payload.size())) return false;
    uint8_t* tiff = payload.data() + sizeof EXIF_HEADER;
    const size_t size = payload.size() - sizeof EXIF_HEADER;
    if (size < 8) return false;
    bool little = false;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (!(tiff[0] == 'M' && tiff[1] == 'M'))
        return false;
    auto get16 = [&](size_t at) -> uint32_t {
        return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
    };
    auto get32 = [&](size_t at) -> uint32_t {
        return little ? get16(at) | get16(at + 2) << 16 : get16(at) << 16 | get16(at + 2);
    };
    if (get16(2) != 42) return false;
    const size_t ifd = get32(4);
    if (ifd > size - 2) return false;
    const size_t entries = get16(ifd);
    if (entries > (size - ifd - 2) / 12) return false;
    for (size_t i = 0; i < entries; ++i) {
        const size_t at = ifd + 2 + i * 12;
        if (get16(at) != ORIENTATION_TAG) continue;
        // SHORT, one value, held in the entry itself.
        if (get16(at + 2) != 3 || get32(at + 4) != 1) return false;
        tiff[at + 8] = little ? 1 : 0;
        tiff[at + 9] = little ? 0 : 1;
        return true;
    }
    return false;
}
