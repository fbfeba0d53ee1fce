#include "imaging/Metadata.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <exiv2/exiv2.hpp>

#include "imaging/ColourProfile.h"
#include "imaging/SourcePhoto.h"

namespace {

constexpr char EXIF_ID[] = "Exif\0";                         // 6 bytes with the terminator
constexpr char XMP_ID[] = "http://ns.adobe.com/xap/1.0/";  // 29 bytes with the terminator
constexpr size_t EXIF_ID_SIZE = 6;
constexpr size_t XMP_ID_SIZE = sizeof XMP_ID;
constexpr size_t MAX_MARKER_DATA = 65533;

bool StartsWith(const JOCTET* data, size_t size, const char* id, size_t idSize) {
    return size >= idSize && std::memcmp(data, id, idSize) == 0;
}

// ----- EXIF and XMP through exiv2. It throws on records it cannot read and
// logs to stderr; both stay inside this file. Its parsers share tables and
// the XMP toolkit's state between calls, so one call runs at a time: the
// work is tiny beside decoding and encoding the pixels.


bool Has(const Exiv2::ExifData& exif, const char* key) { return exif.findKey(Exiv2::ExifKey(key)) != exif.end(); }

// The record as the written file needs it. Entries of a type TIFF does not
// know would go out as they came in and make readers stumble; they go.
void AgreeWith(Exiv2::ExifData& exif, const WrittenImage& image) {
    bool exifIfd = false;
    for (const Exiv2::Exifdatum& e : exif) exifIfd = exifIfd || e.groupName() == "Photo";
    for (auto i = exif.begin(); i != exif.end();) {
        const Exiv2::TypeId type = i->typeId();
        if (type < Exiv2::unsignedByte || type > Exiv2::tiffIfd)
            i = exif.erase(i);
        else
            ++i;
    }
    Exiv2::ExifThumb(exif).erase();
    exif["Exif.Photo.PixelXDimension"] = image.width;
    exif["Exif.Photo.PixelYDimension"] = image.height;
    if (Has(exif, "Exif.Image.ImageWidth")) exif["Exif.Image.ImageWidth"] = image.width;
    if (Has(exif, "Exif.Image.ImageLength")) exif["Exif.Image.ImageLength"] = image.height;
    // The pixels are written upright.
    if (Has(exif, "Exif.Image.Orientation")) exif["Exif.Image.Orientation"] = uint16_t(1);
    if (image.dpi > 0) {
        const Exiv2::URational dpi(static_cast<uint32_t>(image.dpi), 1);
        exif["Exif.Image.XResolution"] = dpi;
        exif["Exif.Image.YResolution"] = dpi;
        exif["Exif.Image.ResolutionUnit"] = uint16_t(2);  // inch
    }
    if (image.srgb) {
        if (Has(exif, "Exif.Photo.ColorSpace")) exif["Exif.Photo.ColorSpace"] = uint16_t(1);
        if (Has(exif, "Exif.Iop.InteroperabilityIndex")) exif["Exif.Iop.InteroperabilityIndex"] = "R98";
    }
    // An Exif directory, a made one too, says which version it follows.
    if (!Has(exif, "Exif.Photo.ExifVersion")) {
        Exiv2::DataValue version(Exiv2::undefined);
        version.read(reinterpret_cast<const Exiv2::byte*>("0232"), 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.ExifVersion"), &version);
    }
    // A directory made here also holds the rest of what EXIF requires of a
    // JPEG's, so that validators find nothing to say about it. A camera's own
    // directory is left as it came.
    if (!exifIfd) {
        const bool rgb = image.codedRgb;
        const Exiv2::byte components[4] = {Exiv2::byte(rgb ? 4 : 1), Exiv2::byte(rgb ? 5 : 2), Exiv2::byte(rgb ? 6 : 3), 0};
        Exiv2::DataValue configuration(Exiv2::undefined);
        configuration.read(components, 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.ComponentsConfiguration"), &configuration);
        Exiv2::DataValue flashpix(Exiv2::undefined);
        flashpix.read(reinterpret_cast<const Exiv2::byte*>("0100"), 4);
        exif.add(Exiv2::ExifKey("Exif.Photo.FlashpixVersion"), &flashpix);
        exif["Exif.Photo.ColorSpace"] = uint16_t(image.otherProfile ? 0xFFFF : 1);  // uncalibrated, or sRGB
        // IFD0's one tag that validators ask of a JPEG: where chroma samples
        // lie, centred as libjpeg places them.
        if (!Has(exif, "Exif.Image.YCbCrPositioning")) exif["Exif.Image.YCbCrPositioning"] = uint16_t(1);
    }
}

// The entries exiv2's encoder may leave out: when a record does not fit one
// marker it drops its large entries (above 4 KiB at the least) and encodes
// the rest, without a word.
constexpr long LARGE_ENTRY = 4096;
constexpr size_t MAX_TIFF_SIZE = 65527;  // a marker's data less "Exif\0\0"

// The large entries of exif that blob has lost for want of room.
std::vector<std::string> LeftOut(const Exiv2::ExifData& exif, const Exiv2::Blob& blob) {
    std::vector<std::string> lost;
    size_t lostBytes = 0;
    Exiv2::ExifData back;
    bool decoded = false;
    for (const Exiv2::Exifdatum& e : exif) {
        if (e.size() <= LARGE_ENTRY) continue;
        if (!decoded) {
            Exiv2::ExifParser::decode(back, blob.data(), static_cast<uint32_t>(blob.size()));
            decoded = true;
        }
        if (back.findKey(Exiv2::ExifKey(e.key())) != back.end()) continue;
        lost.push_back(e.key());
        lostBytes += static_cast<size_t>(e.size());
    }
    // Entries the encoder drops whatever the size (those of IFDs a JPEG has
    // no use for) are not lost for want of room.
    if (blob.size() + lostBytes <= MAX_TIFF_SIZE) lost.clear();
    return lost;
}

// The maker note: bulk that only its camera maker's software reads.
bool IsMakerNote(const Exiv2::Exifdatum& e) {
    const std::string group = e.groupName();
    return e.key() == "Exif.Photo.MakerNote" || group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group);
}

// The warning for a large entry left out.
std::string LeftOutText(const Exiv2::ExifData& exif, const std::string& key) {
    const auto e = exif.findKey(Exiv2::ExifKey(key));
    if (IsMakerNote(*e)) return "its EXIF maker note does not fit into one marker beside the rest; left out";
    return "its EXIF tag " + e->tagName() + " (" + std::to_string(e->size()) +
           " bytes) does not fit into one marker; left out";
}

// The record encoded; when it does not fit one marker, the maker note goes
// first to make room for the rest. Whatever is still left out is named in
// lost.
void EncodeKeeping(const Exiv2::ExifData& exif, Exiv2::ByteOrder order, Exiv2::Blob& blob,
                   std::vector<std::string>& lost) {
    Exiv2::ExifParser::encode(blob, order, exif);
    std::vector<std::string> keys = LeftOut(exif, blob);
    if (!keys.empty()) {
        Exiv2::ExifData lean = exif;
        std::string makerNote;
        for (auto i = lean.begin(); i != lean.end();) {
            if (!IsMakerNote(*i)) {
                ++i;
                continue;
            }
            if (i->key() == "Exif.Photo.MakerNote" || makerNote.empty()) makerNote = i->key();
            i = lean.erase(i);
        }
        Exiv2::Blob leanBlob;
        if (!makerNote.empty()) Exiv2::ExifParser::encode(leanBlob, order, lean);
        if (!makerNote.empty() && LeftOut(lean, leanBlob).empty() && leanBlob.size() <= MAX_TIFF_SIZE) {
            blob.swap(leanBlob);
            keys = {makerNote};
        }
    }
    for (const std::string& key : keys) lost.push_back(LeftOutText(exif, key));
}

// Encodes without the source's bytes: the structure is laid out anew, so a
// source whose directories overlap cannot have one of them overwritten by a
// value patched into another.
bool EncodeExif(const Exiv2::ExifData& exif, Exiv2::ByteOrder order, std::vector<JOCTET>& payload,
                std::string& problem, std::vector<std::string>& lost) {
    Exiv2::Blob blob;
    EncodeKeeping(exif, order, blob, lost);
    if (blob.empty()) return false;
    if (EXIF_ID_SIZE + blob.size() > MAX_MARKER_DATA) {
        problem = "its EXIF record does not fit into one marker";
        return false;
    }
    payload.assign(EXIF_ID, EXIF_ID + EXIF_ID_SIZE);
    payload.insert(payload.end(), blob.begin(), blob.end());
    return true;
}

// An XMP property that describes the written file: set when the packet has it.
bool Update(Exiv2::XmpData& xmp, const char* key, const std::string& value) {
    const auto i = xmp.findKey(Exiv2::XmpKey(key));
    if (i == xmp.end() || i->toString() == value) return false;
    i->setValue(value);
    return true;
}

}  // namespace

std::mutex& ExivMutex() {
    static std::mutex mutex;
    return mutex;
}

void PrepareMetadataLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::LogMsg::setHandler(nullptr);
        std::lock_guard<std::mutex> lock(ExivMutex());
        Exiv2::XmpParser::initialize();
    });
}

bool FixExifForOutput(std::vector<JOCTET>& payload, const WrittenImage& image, std::string& problem,
                      std::vector<std::string>* lost) {
    problem = "its EXIF record is damaged";
    if (!StartsWith(payload.data(), payload.size(), EXIF_ID, EXIF_ID_SIZE) || payload.size() < EXIF_ID_SIZE + 8)
        return false;
    PrepareMetadataLibrary();
    std::lock_guard<std::mutex> lock(ExivMutex());
    try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            exif, payload.data() + EXIF_ID_SIZE, static_cast<uint32_t>(payload.size() - EXIF_ID_SIZE));
        // Nothing read: not even IFD0 held together.
        if (order == Exiv2::invalidByteOrder || exif.empty()) return false;
        AgreeWith(exif, image);
        std::vector<std::string> left;
        if (!EncodeExif(exif, order, payload, problem, left)) return false;
        if (lost) lost->insert(lost->end(), left.begin(), left.end());
    } catch (...) {
        return false;
    }
    problem.clear();
    return true;
}

bool FixExifForOutput(std::vector<JOCTET>& payload, uint32_t width, uint32_t height, std::string& problem) {
    WrittenImage image;
    image.width = width;
    image.height = height;
    return FixExifForOutput(payload, image, problem);
}

std::vector<JOCTET> ResolutionExif(const WrittenImage& image) {
    PrepareMetadataLibrary();
    std::lock_guard<std::mutex> lock(ExivMutex());
    std::vector<JOCTET> payload;
    try {
        Exiv2::ExifData exif;
        AgreeWith(exif, image);
        std::string problem;
        std::vector<std::string> lost;
        if (!EncodeExif(exif, Exiv2::bigEndian, payload, problem, lost)) payload.clear();
    } catch (...) {
        payload.clear();
    }
    return payload;
}

bool FixXmpForOutput(std::vector<JOCTET>& payload, const WrittenImage& image, std::string& problem) {
    problem = "its XMP packet cannot be read";
    if (!StartsWith(payload.data(), payload.size(), XMP_ID, XMP_ID_SIZE)) return false;
    std::string packet(payload.begin() + XMP_ID_SIZE, payload.end());
    // Some writers end the packet with a terminator the parser takes for text.
    while (!packet.empty() && packet.back() == '\0') packet.pop_back();
    PrepareMetadataLibrary();
    std::lock_guard<std::mutex> lock(ExivMutex());
    try {
        Exiv2::XmpData xmp;
        if (Exiv2::XmpParser::decode(xmp, packet) != 0) return false;
        bool changed = false;
        changed |= Update(xmp, "Xmp.tiff.ImageWidth", std::to_string(image.width));
        changed |= Update(xmp, "Xmp.tiff.ImageLength", std::to_string(image.height));
        changed |= Update(xmp, "Xmp.exif.PixelXDimension", std::to_string(image.width));
        changed |= Update(xmp, "Xmp.exif.PixelYDimension", std::to_string(image.height));
        changed |= Update(xmp, "Xmp.tiff.Orientation", "1");
        if (image.srgb) changed |= Update(xmp, "Xmp.exif.ColorSpace", "1");
        if (image.dpi > 0) {
            const std::string dpi = std::to_string(image.dpi) + "/1";
            changed |= Update(xmp, "Xmp.tiff.XResolution", dpi);
            changed |= Update(xmp, "Xmp.tiff.YResolution", dpi);
            changed |= Update(xmp, "Xmp.tiff.ResolutionUnit", "2");
        }
        // A preview of the whole photograph no longer shows the file.
        for (auto i = xmp.begin(); i != xmp.end();) {
            if (i->key().rfind("Xmp.xmp.Thumbnails", 0) == 0) {
                i = xmp.erase(i);
                changed = true;
            } else {
                ++i;
            }
        }
        if (!changed) {
            problem.clear();
            return true;
        }
        std::string out;
        if (Exiv2::XmpParser::encode(out, xmp, Exiv2::XmpParser::useCompactFormat) != 0 || out.empty()) {
            problem = "its XMP packet cannot be written again";
            return false;
        }
        if (XMP_ID_SIZE + out.size() > MAX_MARKER_DATA) {
            problem = "its XMP packet does not fit into one marker";
            return false;
        }
        payload.assign(XMP_ID, XMP_ID + XMP_ID_SIZE);
        payload.insert(payload.end(), out.begin(), out.end());
    } catch (...) {
        return false;
    }
    problem.clear();
    return true;
}

namespace {

// A colour space as a profile's header names it (bytes 16 to 19), for people.
std::string SpaceName(const std::string& code) {
    if (code == "RGB ") return "RGB";
    if (code == "GRAY") return "greyscale";
    if (code == "CMYK") return "CMYK";
    std::string name;
    for (char c : code)
        if (c != ' ') name += c >= 0x21 && c <= 0x7E ? c : '?';
    return name.empty() ? "an unnamed colour space" : "'" + name + "'";
}

// Empty when the profile describes pixels of that many components, otherwise
// why it does not go along. A profile is applied to the pixels as they are
// stored: a CMYK profile on RGB pixels makes readers show them wrongly or
// refuse the file.
std::string ProfileMismatch(const std::vector<JOCTET>& icc, int components) {
    const std::string code = ProfileSpaceCode(icc);
    if (code.empty()) return "its colour profile is damaged; left out";
    const ProfileSpace wanted = components == 1 ? ProfileSpace::Grey
                                : components == 4 ? ProfileSpace::Cmyk
                                                  : ProfileSpace::Rgb;
    if (SpaceOfProfile(icc) == wanted) return "";
    const char* wantedCode = components == 1 ? "GRAY" : components == 4 ? "CMYK" : "RGB ";
    return "its colour profile is for " + SpaceName(code) + ", the new file's pixels are " + SpaceName(wantedCode) +
           "; left out";
}

}  // namespace

void KeepSourceMetadata(const PhotoFacts& facts, bool profile, bool all, const WrittenImage& image,
                        SourceMetadata& metadata, std::vector<std::string>& warnings) {
    metadata = SourceMetadata();
    if (profile || all) metadata.icc = facts.markers.icc;
    if (all) {
        metadata.exif = facts.markers.exif;
        metadata.xmp = facts.markers.xmp;
    }
    if ((profile || all) && facts.profileUnjoined) warnings.push_back("its colour profile is damaged; left out");
    if (!metadata.icc.empty() && !ProfileIsWhole(metadata.icc)) {
        metadata.icc.clear();
        warnings.push_back("its colour profile is damaged; left out");
    }
    if (!metadata.icc.empty()) {
        const std::string mismatch = ProfileMismatch(metadata.icc, image.components);
        if (!mismatch.empty()) {
            metadata.icc.clear();
            warnings.push_back(mismatch);
        }
    }
    if (all && facts.extendedXmp) warnings.push_back("its extended XMP does not fit the new file; left out");
    std::string problem;
    if (!metadata.exif.empty() && !FixExifForOutput(metadata.exif, image, problem, &warnings)) {
        metadata.exif.clear();
        warnings.push_back(problem + "; left out");
    }
    if (!metadata.xmp.empty() && !FixXmpForOutput(metadata.xmp, image, problem)) {
        metadata.xmp.clear();
        warnings.push_back(problem + "; left out");
    }
}

bool ReadSourceMetadata(const std::wstring& sourcePath, bool profile, bool all, const WrittenImage& image,
                        SourceMetadata& metadata, std::vector<std::string>& warnings) {
    metadata = SourceMetadata();
    SourcePhoto source;
    PhotoReport report;
    if (!source.Open(sourcePath, report)) return false;
    KeepSourceMetadata(source.Facts(), profile, all, image, metadata, warnings);
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
