#pragma once
// A photograph opened for one preview or one export. The file is opened and
// its header read once; everything the steps after need to know before the
// first pixel (the upright size, the orientation, the colour profile, the
// EXIF and XMP a new file may carry) is read from that header, and the
// pixels come from the same decoder. What a photograph tells before its
// pixels (PhotoFacts) is the same for any kind of file; a JPEG decoder or a
// HEIF image (told by the file's content) stands behind it. The steps of a preview or an export ask only
// for the facts and for rows (read, skip, crop columns, working memory), so
// another kind of file plugs in behind the same calls: a decoder that gives
// upright 8-bit R, G, B rows fills the facts with an upright turn, its
// profile and its EXIF and XMP, and reads as the Rgb layout.
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/ColourProfile.h"
#include "imaging/HeifImage.h"
#include "imaging/JpegSource.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "imaging/Pipeline.h"

// What a photograph says about itself before its pixels.
struct PhotoFacts {
    CSize stored;  // as the decoder delivers rows, at full size
    Orientation turn;
    bool damagedOrientation = false;  // the tag could not be read: taken as stored
    // The joined ICC profile and the EXIF and XMP payloads, as found.
    SourceMetadata markers;
    bool profileMarkers = false;   // profile markers are there...
    bool profileUnjoined = false;  // ...but do not join into one profile
    bool extendedXmp = false;      // XMP that needs more than one marker
    bool grey = false;             // one component: rows arrive as R = G = B

    CSize Upright() const { return turn.UprightSize(stored); }
    // The program's size rule: 800 x 600, on the size as stored.
    bool TooSmall() const { return stored.cx < 800 || stored.cy < 600; }
};

class SourcePhoto {
public:
    SourcePhoto();
    ~SourcePhoto();
    SourcePhoto(const SourcePhoto&) = delete;
    SourcePhoto& operator=(const SourcePhoto&) = delete;

    // Opens path and reads the header. With report.strict, damage met in the
    // header refuses the photograph here already. False, with report's
    // failure set, when it cannot be opened or is neither a JPEG nor a HEIF
    // image that can be decoded.
    bool Open(const std::wstring& path, PhotoReport& report);
    // A second decoder of the file other has open (the same file even if
    // its name now leads to another), with its facts: for decoding another
    // part of it at the same time. False when it cannot be had.
    bool OpenSame(const SourcePhoto& other);

    const PhotoFacts& Facts() const { return m_facts; }

    // ----- Decoding the pixels.

    // Where a fatal decoder error returns to from now on: a jump target in
    // the caller's frame, set with setjmp before the next library call.
    void ReturnTo(std::jmp_buf* target) { m_trap.target = target; }

    // Call under that target. Chooses the output that gives R, G, B, starts
    // decompression (monitor hears the scans of a multi-scan file, which
    // are all read there) and
    // decides what the profile means for the pixels (keepRgb: an RGB profile
    // goes along with unconverted pixels). strict: damage is fatal from here
    // on, and damage the header already had refuses the photograph. False
    // for a component layout that is not a photograph's, or refused damage.
    bool Start(bool strict, bool keepRgb, jpeg_progress_mgr* monitor = nullptr);

    // The rows, top first, as stored, once started: all the export's and the
    // preview's steps ask of a decoder. Rows are RowWidth() pixels of
    // Components() bytes (the decoder's colour space; Layout says how to
    // read them).
    JDIMENSION RowWidth() const { return m_heif ? m_heif->Width() : m_dinfo.output_width; }
    JDIMENSION Height() const { return m_heif ? m_heif->Height() : m_dinfo.output_height; }
    int Components() const { return m_heif ? 3 : m_dinfo.output_components; }
    JDIMENSION NextRow() const { return m_heif ? m_heifRow : m_dinfo.output_scanline; }
    bool MultiScan() { return !m_heif && jpeg_has_multiple_scans(&m_dinfo); }
    void ReadRow(JSAMPROW row);
    JDIMENSION SkipRows(JDIMENSION count);
    // Narrows the rows to at least width pixels from left; both may widen
    // to the decoder's block grid (for a HEIF, to the whole row).
    void CropColumns(JDIMENSION& left, JDIMENSION& width);
    // No more rows are wanted: what follows in the file is not even read.
    void StopReading();
    // Working memory that lives as long as the decoding: count rows of
    // bytes each, or a block.
    JSAMPARRAY Rows(JDIMENSION bytes, JDIMENSION count);
    void* Memory(size_t bytes);
    // How the decoder's rows are to be read, and the way to sRGB. A HEIF's
    // rows are sRGB already: its colour converts nothing.
    SourceColour Layout() const { return m_layout; }
    const PhotoColour& Colour() const { return m_colour; }
    // Why the photograph's colour description could not be used, else empty.
    std::string ProfileProblem() const { return m_heif ? m_heif->ColourProblem() : m_colour.Problem(); }
    // The pixels reach sRGB from another colour space on their way out.
    bool ConvertsToSrgb() const { return m_heif ? m_heif->ConvertsColour() : m_colour.Converts(); }
    bool Failed() const { return m_heif ? m_heifFailed : m_trap.failed; }
    bool Damaged() const { return !m_heif && m_trap.damage > 0; }
    int WriteErrno() const { return m_trap.savedErrno; }
    // A HEIF photograph (HEIC, AVIF): no JPEG data behind its rows.
    bool IsHeif() const { return m_heif != nullptr; }

    // Why decoding stopped, or the damage it got through, into report.
    void ReportFailure(PhotoReport& report) const;
    void ReportDamage(PhotoReport& report) const;

    // Decoding threads for each HEIF photograph opened from now on, in the
    // whole process: 1 when several photographs are decoded at once
    // already, 0 for libheif's own choice.
    static void SetHeifThreads(int threads);
    // A HEIF photograph is decoded whole by Start, before its first row:
    // the cores that may take, 0 as SetHeifThreads says.
    void SetHeifDecodingCores(int cores) { m_heifCores = cores; }

    // The whole file, for a cut that works on its bytes. False with errno's
    // value in error when it cannot be read.
    bool ReadAll(std::vector<unsigned char>& bytes, int& error);

private:
    void Close();
    void GatherFacts();
    bool OpenHeif(PhotoReport& report);
    bool StartHeif();

    FILE* m_file = nullptr;
    std::vector<char> m_readBuffer;
    jpeg_decompress_struct m_dinfo{};
    JpegErrorTrap m_trap;
    std::jmp_buf m_jump;
    bool m_created = false;
    PhotoFacts m_facts;
    SourceColour m_layout = SourceColour::Rgb;
    PhotoColour m_colour;

    std::unique_ptr<HeifImage> m_heif;
    JDIMENSION m_heifRow = 0;
    bool m_heifFailed = false;
    int m_heifCores = 0;
    std::string m_heifReason;
    // The working memory handed out for a HEIF, as the JPEG decoder's pool
    // holds it for a JPEG.
    std::vector<std::unique_ptr<std::max_align_t[]>> m_heifMemory;
};

// Keeps what the source carries and a new file may take: the profile
// (profile or all), EXIF and XMP (all), made to describe image as in
// ReadSourceMetadata. Whatever is dropped is said in warnings.
void KeepSourceMetadata(const PhotoFacts& facts, bool profile, bool all, const WrittenImage& image,
                        SourceMetadata& metadata, std::vector<std::string>& warnings);
