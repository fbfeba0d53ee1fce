#include "imaging/Metadata.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "imaging/JpegSource.h"
#include "platform/DeviceFs.h"

namespace {

constexpr char EXIF_ID[] = "Exif\0";                         // 6 bytes with the terminator
constexpr char XMP_ID[] = "http://ns.adobe.com/xap/1.0/";  // 29 bytes with the terminator
constexpr size_t EXIF_ID_SIZE = 6;
constexpr size_t XMP_ID_SIZE = sizeof XMP_ID;
constexpr size_t MAX_MARKER_DATA = 65533;

bool StartsWith(const JOCTET* data, size_t size, const char* id, size_t idSize) {
    return size >= idSize && std::memcmp(data, id, idSize) == 0;
}

// ----- EXIF: a TIFF record. Every offset in it comes from the file and is
// checked before use; sizes are computed in 64 bits so nothing wraps.

struct Tiff {
    JOCTET* d;
    size_t n;
    bool big;
    uint32_t U16(size_t o) const { return big ? (d[o] << 8 | d[o + 1]) : (d[o] | d[o + 1] << 8); }
    uint32_t U32(size_t o) const {
        return big ? (uint32_t(d[o]) << 24 | uint32_t(d[o + 1]) << 16 | uint32_t(d[o + 2]) << 8 | d[o + 3])
                   : (uint32_t(d[o + 3]) << 24 | uint32_t(d[o + 2]) << 16 | uint32_t(d[o + 1]) << 8 | d[o]);
    }
};

void Put16(JOCTET* p, bool big, uint32_t v) {
    p[big ? 0 : 1] = static_cast<JOCTET>(v >> 8);
    p[big ? 1 : 0] = static_cast<JOCTET>(v);
}

void Put32(JOCTET* p, bool big, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[big ? 3 - i : i] = static_cast<JOCTET>(v >> (8 * i));
}

int TypeSize(uint32_t type) {
    static const int sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < sizeof sizes / sizeof sizes[0] ? sizes[type] : 0;
}

struct Range {
    uint64_t begin, end;
};

constexpr uint32_t TAG_EXIF_IFD = 0x8769, TAG_GPS_IFD = 0x8825, TAG_INTEROP_IFD = 0xA005;
constexpr uint32_t TAG_PIXEL_X = 0xA002, TAG_PIXEL_Y = 0xA003;
constexpr uint32_t TAG_THUMB_OFFSET = 0x0201, TAG_THUMB_LENGTH = 0x0202;
constexpr uint32_t TYPE_LONG = 4, TYPE_SHORT = 3, TYPE_IFD = 13;

// The directory at offset and each value it keeps outside itself must lie
// inside the record; their byte ranges are added to used.
bool CheckIfd(const Tiff& t, uint64_t offset, std::vector<Range>& used) {
    if (offset < 8 || offset + 2 > t.n) return false;
    const uint32_t count = t.U16(offset);
    const uint64_t end = offset + 2 + 12ull * count + 4;
    if (end > t.n) return false;
    used.push_back({offset, end});
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = offset + 2 + 12 * i;
        const int size = TypeSize(t.U16(e + 2));
        if (size == 0) return false;
        const uint64_t bytes = uint64_t(size) * t.U32(e + 4);
        if (bytes <= 4) continue;
        const uint64_t value = t.U32(e + 8);
        if (value + bytes > t.n) return false;
        used.push_back({value, value + bytes});
    }
    return true;
}

// The entry of tag in the checked directory at offset, or 0.
size_t FindEntry(const Tiff& t, size_t ifd, uint32_t tag) {
    const uint32_t count = t.U16(ifd);
    for (uint32_t i = 0; i < count; ++i)
        if (t.U16(ifd + 2 + 12 * i) == tag) return ifd + 2 + 12 * i;
    return 0;
}

// A pointer entry's target, or false when the entry is not one.
bool PointerOf(const Tiff& t, size_t entry, uint32_t& target) {
    const uint32_t type = t.U16(entry + 2);
    if ((type != TYPE_LONG && type != TYPE_IFD) || t.U32(entry + 4) != 1) return false;
    target = t.U32(entry + 8);
    return true;
}

using Entry = std::array<JOCTET, 12>;

std::vector<Entry> EntriesOf(const Tiff& t, size_t ifd) {
    std::vector<Entry> entries(t.U16(ifd));
    for (size_t i = 0; i < entries.size(); ++i) std::memcpy(entries[i].data(), t.d + ifd + 2 + 12 * i, 12);
    return entries;
}

Entry LongEntry(bool big, uint32_t tag, uint32_t value) {
    Entry e{};
    Put16(e.data(), big, tag);
    Put16(e.data() + 2, big, TYPE_LONG);
    Put32(e.data() + 4, big, 1);
    Put32(e.data() + 8, big, value);
    return e;
}

// Puts entry in place of the one with the same tag, or adds it.
void SetEntry(std::vector<Entry>& entries, bool big, const Entry& entry) {
    const Tiff t{const_cast<JOCTET*>(entry.data()), 12, big};
    const uint32_t tag = t.U16(0);
    for (Entry& e : entries) {
        if (Tiff{e.data(), 12, big}.U16(0) == tag) {
            e = entry;
            return;
        }
    }
    entries.push_back(entry);
}

// Appends a directory of entries (sorted by tag, as readers expect) to the
// record at an even offset, without a next directory; returns its offset.
uint32_t AppendIfd(std::vector<JOCTET>& payload, bool big, std::vector<Entry> entries) {
    std::sort(entries.begin(), entries.end(), [big](const Entry& a, const Entry& b) {
        return Tiff{const_cast<JOCTET*>(a.data()), 12, big}.U16(0) < Tiff{const_cast<JOCTET*>(b.data()), 12, big}.U16(0);
    });
    if ((payload.size() - EXIF_ID_SIZE) % 2) payload.push_back(0);
    const size_t at = payload.size();
    payload.resize(at + 2 + 12 * entries.size() + 4, 0);
    Put16(&payload[at], big, static_cast<uint32_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) std::memcpy(&payload[at + 2 + 12 * i], entries[i].data(), 12);
    return static_cast<uint32_t>(at - EXIF_ID_SIZE);
}

bool Overlaps(const Range& r, const std::vector<Range>& used) {
    for (const Range& u : used)
        if (r.begin < u.end && u.begin < r.end) return true;
    return false;
}

// ----- Reading the source's markers through the library.

struct MarkerReader {
    jpeg_decompress_struct dinfo{};
    JpegErrorTrap trap;
    std::jmp_buf jump;
    bool created = false;
    FILE* file = nullptr;
    JOCTET* icc = nullptr;
    unsigned int iccSize = 0;
    bool iccDamaged = false;
    bool extendedXmp = false;
};

// Holds nothing with a destructor: a fatal library error leaves it through
// longjmp.
bool ReadMarkers(MarkerReader& r, SourceMetadata& m, bool profile, bool all) {
    if (setjmp(r.jump)) return false;
    r.dinfo.err = InitErrorTrap(r.trap, &r.jump);
    jpeg_create_decompress(&r.dinfo);
    r.created = true;
    jpeg_save_markers(&r.dinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&r.dinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_stdio_src(&r.dinfo, r.file);
    jpeg_read_header(&r.dinfo, TRUE);
    if (profile || all) {
        bool any = false;
        for (jpeg_saved_marker_ptr p = r.dinfo.marker_list; p; p = p->next)
            any = any || (p->marker == JPEG_APP0 + 2 && StartsWith(p->data, p->data_length, "ICC_PROFILE", 12));
        if (any && !jpeg_read_icc_profile(&r.dinfo, &r.icc, &r.iccSize)) r.iccDamaged = true;
    }
    if (all) {
        for (jpeg_saved_marker_ptr p = r.dinfo.marker_list; p; p = p->next) {
            if (p->marker != JPEG_APP0 + 1) continue;
            if (m.exif.empty() && StartsWith(p->data, p->data_length, EXIF_ID, EXIF_ID_SIZE))
                m.exif.assign(p->data, p->data + p->data_length);
            else if (m.xmp.empty() && StartsWith(p->data, p->data_length, XMP_ID, XMP_ID_SIZE))
                m.xmp.assign(p->data, p->data + p->data_length);
            else if (StartsWith(p->data, p->data_length, "http://ns.adobe.com/xmp/extension/", 35))
                r.extendedXmp = true;
        }
    }
    return true;
}

}  // namespace

bool FixExifForOutput(std::vector<JOCTET>& payload, uint32_t width, uint32_t height, std::string& problem) {
    problem = "its EXIF record is damaged";
    if (!StartsWith(payload.data(), payload.size(), EXIF_ID, EXIF_ID_SIZE) || payload.size() < EXIF_ID_SIZE + 8)
        return false;
    Tiff t{payload.data() + EXIF_ID_SIZE, payload.size() - EXIF_ID_SIZE, false};
    if (t.d[0] == 'M' && t.d[1] == 'M')
        t.big = true;
    else if (!(t.d[0] == 'I' && t.d[1] == 'I'))
        return false;
    if (t.U16(2) != 42) return false;

    std::vector<Range> used{{0, 8}};
    const uint32_t ifd0 = t.U32(4);
    if (!CheckIfd(t, ifd0, used)) return false;
    uint32_t exifIfd = 0, target = 0;
    if (const size_t e = FindEntry(t, ifd0, TAG_EXIF_IFD)) {
        if (!PointerOf(t, e, exifIfd) || exifIfd == ifd0 || !CheckIfd(t, exifIfd, used)) return false;
        if (const size_t i = FindEntry(t, exifIfd, TAG_INTEROP_IFD))
            if (!PointerOf(t, i, target) || !CheckIfd(t, target, used)) return false;
    }
    if (const size_t g = FindEntry(t, ifd0, TAG_GPS_IFD))
        if (!PointerOf(t, g, target) || !CheckIfd(t, target, used)) return false;

    // The thumbnail: IFD1 and the picture it points to. They are dropped
    // whatever they hold; when they lie behind everything else the record
    // simply ends earlier, otherwise their bytes are cleared.
    uint64_t keptEnd = 0;
    for (const Range& r : used) keptEnd = std::max(keptEnd, r.end);
    const size_t ifd0Next = ifd0 + 2 + 12 * t.U16(ifd0);
    const uint32_t ifd1 = t.U32(ifd0Next);
    Put32(t.d + ifd0Next, t.big, 0);
    if (ifd1 != 0) {
        std::vector<Range> thumb;
        if (CheckIfd(t, ifd1, thumb)) {
            const size_t o = FindEntry(t, ifd1, TAG_THUMB_OFFSET), l = FindEntry(t, ifd1, TAG_THUMB_LENGTH);
            if (o && l) {
                const uint64_t begin = t.U32(o + 8), end = begin + t.U32(l + 8);
                if (end <= t.n) thumb.push_back({begin, end});
            }
        } else {
            thumb.clear();
        }
        uint64_t first = ifd1;
        for (const Range& r : thumb) first = std::min(first, r.begin);
        if (first >= keptEnd) {
            payload.resize(EXIF_ID_SIZE + keptEnd);
            t.d = payload.data() + EXIF_ID_SIZE;
            t.n = keptEnd;
        } else {
            for (const Range& r : thumb)
                if (!Overlaps(r, used)) std::memset(t.d + r.begin, 0, r.end - r.begin);
        }
    }

    // The pixel size: in place when both entries can hold it, otherwise in a
    // new copy of the directory at the end (nothing else moves, so offsets
    // elsewhere, a maker note's too, stay right).
    const bool big = t.big;
    bool inPlace = false;
    if (exifIfd != 0) {
        const size_t x = FindEntry(t, exifIfd, TAG_PIXEL_X), y = FindEntry(t, exifIfd, TAG_PIXEL_Y);
        auto fits = [&](size_t e) {
            const uint32_t type = t.U16(e + 2);
            return e && (type == TYPE_SHORT || type == TYPE_LONG) && t.U32(e + 4) == 1;
        };
        if (fits(x) && fits(y)) {
            const Entry ex = LongEntry(big, TAG_PIXEL_X, width), ey = LongEntry(big, TAG_PIXEL_Y, height);
            std::memcpy(t.d + x, ex.data(), 12);
            std::memcpy(t.d + y, ey.data(), 12);
            inPlace = true;
        }
    }
    if (!inPlace) {
        std::vector<Entry> exif = exifIfd ? EntriesOf(t, exifIfd) : std::vector<Entry>{};
        std::vector<Entry> zeroth = EntriesOf(t, ifd0);
        SetEntry(exif, big, LongEntry(big, TAG_PIXEL_X, width));
        SetEntry(exif, big, LongEntry(big, TAG_PIXEL_Y, height));
        const size_t pointer = exifIfd ? FindEntry(t, ifd0, TAG_EXIF_IFD) : 0;
        const uint32_t newExif = AppendIfd(payload, big, exif);  // moves the record's bytes
        if (exifIfd != 0) {
            Put32(payload.data() + EXIF_ID_SIZE + pointer + 8, big, newExif);
        } else {
            SetEntry(zeroth, big, LongEntry(big, TAG_EXIF_IFD, newExif));
            const uint32_t newIfd0 = AppendIfd(payload, big, zeroth);
            Put32(payload.data() + EXIF_ID_SIZE + 4, big, newIfd0);
        }
    }
    if (payload.size() > MAX_MARKER_DATA) {
        problem = "its EXIF record does not fit into one marker";
        return false;
    }
    problem.clear();
    return true;
}

bool ReadSourceMetadata(const std::wstring& sourcePath, bool profile, bool all, uint32_t width, uint32_t height,
                        SourceMetadata& metadata, std::vector<std::string>& warnings) {
    metadata = SourceMetadata();
    MarkerReader r;
    r.file = devfs::OpenRegularFile(sourcePath);
    if (!r.file) return false;
    const bool ok = ReadMarkers(r, metadata, profile, all);
    if (r.created) jpeg_destroy_decompress(&r.dinfo);
    std::fclose(r.file);
    if (r.icc) {
        if (ok) metadata.icc.assign(r.icc, r.icc + r.iccSize);
        std::free(r.icc);
    }
    if (!ok) return false;
    if (r.iccDamaged) warnings.push_back("its colour profile is damaged; left out");
    if (r.extendedXmp) warnings.push_back("its extended XMP does not fit the new file; left out");
    if (!metadata.exif.empty()) {
        std::string problem;
        if (!FixExifForOutput(metadata.exif, width, height, problem)) {
            metadata.exif.clear();
            warnings.push_back(problem + "; left out");
        }
    }
    return true;
}

void WriteMetadata(jpeg_compress_struct& cinfo, const SourceMetadata& m) {
    if (!m.exif.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, m.exif.data(), static_cast<unsigned>(m.exif.size()));
    if (!m.xmp.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, m.xmp.data(), static_cast<unsigned>(m.xmp.size()));
    if (!m.icc.empty()) jpeg_write_icc_profile(&cinfo, m.icc.data(), static_cast<unsigned>(m.icc.size()));
}

namespace {

void AppendMarker(std::vector<unsigned char>& out, int marker, const unsigned char* head, size_t headSize,
                  const unsigned char* data, size_t size) {
    const size_t length = 2 + headSize + size;
    out.push_back(0xFF);
    out.push_back(static_cast<unsigned char>(marker));
    out.push_back(static_cast<unsigned char>(length >> 8));
    out.push_back(static_cast<unsigned char>(length));
    out.insert(out.end(), head, head + headSize);
    out.insert(out.end(), data, data + size);
}

}  // namespace

std::vector<unsigned char> WithMetadata(const unsigned char* jpeg, size_t size, const SourceMetadata& m, int dpi,
                                        bool& densitySet) {
    densitySet = false;
    if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    std::vector<unsigned char> out(jpeg, jpeg + 2);
    size_t rest = 2;
    // A JFIF header stays first, with the density changed when asked.
    if (size >= 20 && jpeg[2] == 0xFF && jpeg[3] == 0xE0 && std::memcmp(jpeg + 6, "JFIF", 5) == 0) {
        const size_t length = static_cast<size_t>(jpeg[4]) << 8 | jpeg[5];
        if (length < 16 || 2 + 2 + length > size) return {};
        out.insert(out.end(), jpeg + 2, jpeg + 4 + length);
        if (dpi > 0) {
            const unsigned d = static_cast<unsigned>(std::min(dpi, 65535));
            out[2 + 11] = 1;
            out[2 + 12] = out[2 + 14] = static_cast<unsigned char>(d >> 8);
            out[2 + 13] = out[2 + 15] = static_cast<unsigned char>(d);
            densitySet = true;
        }
        rest = 4 + length;
    }
    if (!m.exif.empty()) AppendMarker(out, JPEG_APP0 + 1, nullptr, 0, m.exif.data(), m.exif.size());
    if (!m.xmp.empty()) AppendMarker(out, JPEG_APP0 + 1, nullptr, 0, m.xmp.data(), m.xmp.size());
    if (!m.icc.empty()) {
        // As jpeg_write_icc_profile splits it: "ICC_PROFILE\0", the chunk's
        // number from 1 and the count of chunks, then at most 65519 bytes.
        constexpr size_t CHUNK = 65519;
        const size_t chunks = (m.icc.size() + CHUNK - 1) / CHUNK;
        if (chunks > 255) return {};
        for (size_t i = 0; i < chunks; ++i) {
            unsigned char head[14] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
            head[12] = static_cast<unsigned char>(i + 1);
            head[13] = static_cast<unsigned char>(chunks);
            const size_t n = std::min(CHUNK, m.icc.size() - i * CHUNK);
            AppendMarker(out, JPEG_APP0 + 2, head, sizeof head, m.icc.data() + i * CHUNK, n);
        }
    }
    out.insert(out.end(), jpeg + rest, jpeg + size);
    return out;
}
