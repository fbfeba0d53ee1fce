#include "imaging/SourcePhoto.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/DeviceFs.h"

namespace {

// The library asks for 4 KiB at a time; unbuffered, that is one system call
// per 4 KiB of the file, which costs more than it seems on a small
// photograph.
constexpr size_t READ_BUFFER_SIZE = 64 * 1024;

bool StartsWith(const JOCTET* data, size_t size, const char* id, size_t idSize) {
    return size >= idSize && std::memcmp(data, id, idSize) == 0;
}

std::atomic<int> heifThreads{0};

constexpr char EXIF_ID[] = "Exif\0";  // 6 bytes with the terminator
constexpr char XMP_ID[] = "http://ns.adobe.com/xap/1.0/";
constexpr char EXTENDED_XMP_ID[] = "http://ns.adobe.com/xmp/extension/";
// A marker's most data: 0xFFFF less its two length bytes.
constexpr size_t MAX_MARKER_DATA = 65533;

// Holds nothing with a destructor: a fatal library error leaves it through
// longjmp.
bool ReadHeader(jpeg_decompress_struct& dinfo, JpegErrorTrap& trap, std::jmp_buf& jump, FILE* file,
                bool& created) {
    if (setjmp(jump)) return false;
    dinfo.err = InitErrorTrap(trap, &jump);
    jpeg_create_decompress(&dinfo);
    created = true;
    dinfo.mem->max_memory_to_use = MAX_DECODER_MEMORY;
    jpeg_stdio_src(&dinfo, file);
    SaveLookMarkers(dinfo);
    jpeg_read_header(&dinfo, TRUE);
    return true;
}

// The profile's markers joined; the same rule under the same jump target.
bool JoinProfile(jpeg_decompress_struct& dinfo, std::jmp_buf& jump, JOCTET*& icc, unsigned int& size) {
    if (setjmp(jump)) return false;
    return jpeg_read_icc_profile(&dinfo, &icc, &size) != 0;
}

}  // namespace

SourcePhoto::SourcePhoto() : m_readBuffer(READ_BUFFER_SIZE) {}

SourcePhoto::~SourcePhoto() { Close(); }

void SourcePhoto::Close() {
    if (m_created) jpeg_destroy_decompress(&m_dinfo);
    m_created = false;
    m_heif.reset();
    m_heifMemory.clear();
    m_heifRow = 0;
    m_heifFailed = false;
    m_heifReason.clear();
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

bool SourcePhoto::Open(const std::wstring& path, PhotoReport& report) {
    using Failure = PhotoReport::Failure;
    Close();
    const char* kind = nullptr;
    m_file = devfs::OpenRegularFile(path, &kind);
    if (!m_file) {
        report.failure = kind ? Failure::SourceNotRegular : Failure::SourceUnreadable;
        report.error = errno;
        report.detail = kind ? kind : "";
        return false;
    }
    std::setvbuf(m_file, m_readBuffer.data(), _IOFBF, m_readBuffer.size());
    if (LooksLikeHeif(m_file)) return OpenHeif(report);
    m_trap.strict = report.strict;
    if (!ReadHeader(m_dinfo, m_trap, m_jump, m_file, m_created)) {
        ReportFailure(report);
        return false;
    }
    GatherFacts();
    return true;
}

bool SourcePhoto::OpenSame(const SourcePhoto& other) {
    Close();
    // A HEIF is decoded whole by its own library; only a JPEG has a second reader.
    if (!other.m_file || other.m_heif) return false;
    // A file description of its own: the two decoders read at their own
    // places.
    const std::string self = "/proc/self/fd/" + std::to_string(fileno(other.m_file));
    m_file = std::fopen(self.c_str(), "rb");
    if (!m_file) return false;
    std::setvbuf(m_file, m_readBuffer.data(), _IOFBF, m_readBuffer.size());
    m_trap.strict = other.m_trap.strict;
    if (!ReadHeader(m_dinfo, m_trap, m_jump, m_file, m_created)) return false;
    m_facts = other.m_facts;
    return m_dinfo.image_width == other.m_dinfo.image_width && m_dinfo.image_height == other.m_dinfo.image_height;
}

void SourcePhoto::GatherFacts() {
    PhotoFacts& f = m_facts;
    f = PhotoFacts();
    // At full size the decoder's rows are as wide as the image.
    f.stored = CSize(static_cast<int32_t>(m_dinfo.image_width), static_cast<int32_t>(m_dinfo.image_height));
    f.grey = m_dinfo.jpeg_color_space == JCS_GRAYSCALE;
    const OrientationTag tag = ReadOrientationTag(m_dinfo);
    f.turn = tag.orientation;
    f.damagedOrientation = tag.damaged;

    bool profileMarkers = false;  // as a reader of the markers: the name is enough
    bool exifContinues = false;   // the EXIF record filled its marker
    for (jpeg_saved_marker_ptr p = m_dinfo.marker_list; p; p = p->next) {
        if (p->marker == JPEG_APP0 + 2) {
            exifContinues = false;
            profileMarkers = profileMarkers || StartsWith(p->data, p->data_length, "ICC_PROFILE", 12);
            // as the colour decision counts them: name, number and count
            f.profileMarkers = f.profileMarkers || (p->data_length >= 14 && StartsWith(p->data, 14, "ICC_PROFILE", 12));
            continue;
        }
        // A record too large for one marker goes on in the markers right
        // after it, each with its own "Exif\0\0" (exiftool writes these).
        const bool exif = p->marker == JPEG_APP0 + 1 && StartsWith(p->data, p->data_length, EXIF_ID, sizeof EXIF_ID);
        if (exif && exifContinues) {
            f.markers.exif.insert(f.markers.exif.end(), p->data + sizeof EXIF_ID, p->data + p->data_length);
            exifContinues = p->data_length == MAX_MARKER_DATA;
            continue;
        }
        exifContinues = false;
        if (p->marker != JPEG_APP0 + 1) continue;
        if (f.markers.exif.empty() && exif) {
            f.markers.exif.assign(p->data, p->data + p->data_length);
            exifContinues = p->data_length == MAX_MARKER_DATA;
        } else if (f.markers.xmp.empty() && StartsWith(p->data, p->data_length, XMP_ID, sizeof XMP_ID))
            f.markers.xmp.assign(p->data, p->data + p->data_length);
        else if (StartsWith(p->data, p->data_length, EXTENDED_XMP_ID, sizeof EXTENDED_XMP_ID))
            f.extendedXmp = true;
    }
    JOCTET* icc = nullptr;
    unsigned int size = 0;
    if (profileMarkers && JoinProfile(m_dinfo, m_jump, icc, size)) f.markers.icc.assign(icc, icc + size);
    std::free(icc);
    f.profileUnjoined = profileMarkers && f.markers.icc.empty();
}

void SourcePhoto::SetHeifThreads(int threads) { heifThreads = threads; }

bool SourcePhoto::OpenHeif(PhotoReport& report) {
    HeifLimits limits;
    limits.decodingThreads = heifThreads;
    m_heif = std::make_unique<HeifImage>();
    if (!m_heif->Open(m_file, limits, m_heifReason)) {
        m_heifFailed = true;
        ReportFailure(report);
        return false;
    }
    // libheif has turned the picture by its own properties; an EXIF
    // Orientation inside only describes that, so the facts say upright and
    // the size rule sees the upright size. The pixels arrive in sRGB: no
    // profile goes along with them.
    PhotoFacts& f = m_facts;
    f = PhotoFacts();
    f.stored = CSize(static_cast<int32_t>(m_heif->Width()), static_cast<int32_t>(m_heif->Height()));
    f.markers.exif.assign(m_heif->Exif().begin(), m_heif->Exif().end());
    f.markers.xmp.assign(m_heif->Xmp().begin(), m_heif->Xmp().end());
    return true;
}

bool SourcePhoto::StartHeif() {
    m_layout = SourceColour::Rgb;
    m_colour.Prepare(std::vector<JOCTET>(), m_layout, false);
    m_heifRow = 0;
    if (!m_heif->Decode(m_heifReason, m_heifCores)) {
        m_heifFailed = true;
        return false;
    }
    return true;
}

void SourcePhoto::ReadRow(JSAMPROW row) {
    if (!m_heif) {
        jpeg_read_scanlines(&m_dinfo, &row, 1);
        return;
    }
    const uint8_t* pixels = m_heifFailed ? nullptr : m_heif->NextRow();
    if (pixels) {
        std::memcpy(row, pixels, static_cast<size_t>(m_heif->Width()) * 3);
    } else {
        // Asked past the end: the caller's loop is wrong, not the file;
        // grey keeps the row defined.
        std::memset(row, 128, static_cast<size_t>(m_heif->Width()) * 3);
    }
    ++m_heifRow;
}

JDIMENSION SourcePhoto::SkipRows(JDIMENSION count) {
    if (!m_heif) return jpeg_skip_scanlines(&m_dinfo, count);
    count = std::min(count, m_heif->Height() - std::min(m_heifRow, m_heif->Height()));
    m_heif->SkipRows(count);
    m_heifRow += count;
    return count;
}

void SourcePhoto::CropColumns(JDIMENSION& left, JDIMENSION& width) {
    if (!m_heif) {
        jpeg_crop_scanline(&m_dinfo, &left, &width);
        return;
    }
    // The decoded picture is all in memory: whole rows cost only a copy.
    left = 0;
    width = m_heif->Width();
}

void SourcePhoto::StopReading() {
    if (m_heif)
        m_heif->ReleasePixels();
    else
        jpeg_abort_decompress(&m_dinfo);
}

JSAMPARRAY SourcePhoto::Rows(JDIMENSION bytes, JDIMENSION count) {
    if (!m_heif)
        return (*m_dinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&m_dinfo), JPOOL_IMAGE, bytes, count);
    auto* rows = static_cast<JSAMPARRAY>(Memory(count * sizeof(JSAMPROW)));
    auto* block = static_cast<JSAMPLE*>(Memory(static_cast<size_t>(bytes) * count));
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = block + static_cast<size_t>(i) * bytes;
    return rows;
}

void* SourcePhoto::Memory(size_t bytes) {
    if (!m_heif)
        return (*m_dinfo.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&m_dinfo), JPOOL_IMAGE, bytes);
    const size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    m_heifMemory.push_back(std::make_unique<std::max_align_t[]>(std::max<size_t>(units, 1)));
    return m_heifMemory.back().get();
}

void SourcePhoto::ReportFailure(PhotoReport& report) const {
    if (!m_heif) {
        ReportDecoderFailure(m_trap, m_dinfo, report);
        return;
    }
    report.failure = PhotoReport::Failure::SourceUndecodable;
    report.detail = m_heifReason;
}

void SourcePhoto::ReportDamage(PhotoReport& report) const {
    // libheif either decodes a picture whole or not at all.
    if (!m_heif) ::ReportDamage(m_trap, report);
}

bool SourcePhoto::Start(bool strict, bool keepRgb, jpeg_progress_mgr* monitor) {
    if (m_heif) return StartHeif();
    m_trap.strict = strict;
    if (strict && m_trap.damage > 0) {
        m_trap.refusedDamage = true;
        return false;
    }
    if (!SelectRgbOutput(m_dinfo, m_layout)) return false;
    m_dinfo.progress = monitor;
    jpeg_start_decompress(&m_dinfo);
    m_dinfo.progress = nullptr;
    // The colour decision counts markers that fail to join as a damaged
    // profile only when they could be profile chunks at all.
    m_colour.Prepare(m_facts.markers.icc, m_layout, m_facts.grey, keepRgb,
                     m_facts.profileMarkers && m_facts.markers.icc.empty());
    return true;
}

bool SourcePhoto::ReadAll(std::vector<unsigned char>& bytes, int& error) {
    bytes.clear();
    if (!m_file || std::fseek(m_file, 0, SEEK_SET) != 0) {
        error = errno ? errno : EIO;
        return false;
    }
    unsigned char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, m_file)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    if (std::ferror(m_file)) {
        error = errno;
        return false;
    }
    return true;
}
