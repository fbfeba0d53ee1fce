#include "imaging/SourcePhoto.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/DeviceFs.h"

namespace {

// The library asks for 4 KiB at a time; unbuffered, that is one system call
// per 4 KiB of the file, which costs more than it seems on a small
// photograph.
constexpr size_t READ_BUFFER_SIZE = 64 * 1024;

bool StartsWith(const JOCTET* data, size_t size, const char* id, size_t idSize) {
    return size >= idSize && std::memcmp(data, id, idSize) == 0;
}

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
    m_trap.strict = report.strict;
    if (!ReadHeader(m_dinfo, m_trap, m_jump, m_file, m_created)) {
        ReportFailure(report);
        return false;
    }
    GatherFacts();
    return true;
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

bool SourcePhoto::Start(bool strict, bool keepRgb, jpeg_progress_mgr* monitor) {
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
