#pragma once
// What a lab reads from a photograph besides its pixels: the colour profile,
// the camera's EXIF record and XMP. Carried from the source into a new file
// on request, made to agree with that file; a source's metadata is treated as
// untrusted input throughout.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <jpeglib.h>

struct SourceMetadata {
    std::vector<JOCTET> icc;   // the whole profile, chunks joined
    std::vector<JOCTET> exif;  // APP1 payload: "Exif\0\0" and the TIFF record
    std::vector<JOCTET> xmp;   // APP1 payload: the XMP namespace and packet
    bool Empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

// The file being written, as far as what goes along has to agree with it.
struct WrittenImage {
    uint32_t width = 0, height = 0;
    // 1 grey, 3 RGB, 4 CMYK: a kept profile must describe this colour space.
    int components = 3;
    // Above 0: the resolution the file records, in dots per inch.
    int dpi = 0;
    // The pixels were converted to sRGB: a colour space the record names
    // (Adobe RGB's "uncalibrated", its interoperability index) says sRGB.
    bool srgb = false;
    // The file codes R, G, B rather than YCbCr (a lossless cut of such a
    // photograph): what a made Exif directory says of its components.
    bool codedRgb = false;
    // The file keeps a profile other than sRGB: a made Exif directory's
    // ColorSpace then says uncalibrated.
    bool otherProfile = false;
};

// Reads what the source carries and keeps what is asked: the profile
// (profile or all), EXIF and XMP (all). EXIF and XMP are made to describe the
// written image (size, upright, its resolution, no thumbnail); a damaged
// profile or one of another colour space is left out, as is a record that
// cannot be read.
// Whatever is dropped is said in warnings. False when the file's header
// cannot be read.
bool ReadSourceMetadata(const std::wstring& sourcePath, bool profile, bool all, const WrittenImage& image,
                        SourceMetadata& metadata, std::vector<std::string>& warnings);

// Writes the markers; call between jpeg_start_compress and the first row.
void WriteMetadata(jpeg_compress_struct& cinfo, const SourceMetadata& metadata);

// A complete JPEG file with its JFIF density set to dpi (when above 0 and
// the file has a JFIF header: densitySet) and the metadata's markers placed
// after the JFIF header. Empty when jpeg is not a JPEG file this can edit.
std::vector<unsigned char> WithMetadata(const unsigned char* jpeg, size_t size, const SourceMetadata& metadata,
                                        int dpi, bool& densitySet);

// Rewrites an EXIF APP1 payload (starting with "Exif\0\0") to describe image:
// pixel size, Orientation 1, the resolution when image.dpi is set, no
// thumbnail. The record is built anew, never patched in place. False, with
// problem set, when it cannot be read or does not fit a marker; payload is
// then unspecified. A record too large for one marker loses its maker note
// first, then its largest tags: each one left out gets a warning in lost.
bool FixExifForOutput(std::vector<JOCTET>& payload, const WrittenImage& image, std::string& problem,
                      std::vector<std::string>* lost = nullptr);
bool FixExifForOutput(std::vector<JOCTET>& payload, uint32_t width, uint32_t height, std::string& problem);

// The same for an XMP APP1 payload; a packet with nothing to change stays
// byte for byte as it was.
bool FixXmpForOutput(std::vector<JOCTET>& payload, const WrittenImage& image, std::string& problem);

// An EXIF APP1 payload holding only image's size and resolution: where a file
// has no JFIF header (RGB or CMYK coded JPEG), this is where it records dpi.
std::vector<JOCTET> ResolutionExif(const WrittenImage& image);

// Sets exiv2 up (silent, XMP toolkit initialised). Called by the functions
// above as needed; a program running exports on several threads calls it
// once before they start.
void PrepareMetadataLibrary();

// exiv2 shares tables and the XMP toolkit's state between calls: every use
// of it, here or elsewhere, holds this lock.
std::mutex& ExivMutex();
