#pragma once
// What a lab reads from a photograph besides its pixels: the colour profile,
// the camera's EXIF record and XMP. Carried from the source into a new file
// on request; a source's EXIF is treated as untrusted input throughout.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <jpeglib.h>

struct SourceMetadata {
    std::vector<JOCTET> icc;   // the whole profile, chunks joined
    std::vector<JOCTET> exif;  // APP1 payload: "Exif\0\0" and the TIFF record
    std::vector<JOCTET> xmp;   // APP1 payload: the XMP namespace and packet
    bool Empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

// Reads what the source carries and keeps what is asked: the profile
// (profile or all), EXIF and XMP (all). EXIF is made to describe a picture of
// width x height pixels without a thumbnail; a record that does not hold
// together is dropped. Whatever is dropped is said in warnings. False when
// the file's header cannot be read.
bool ReadSourceMetadata(const std::wstring& sourcePath, bool profile, bool all, uint32_t width, uint32_t height,
                        SourceMetadata& metadata, std::vector<std::string>& warnings);

// Writes the markers; call between jpeg_start_compress and the first row.
void WriteMetadata(jpeg_compress_struct& cinfo, const SourceMetadata& metadata);

// A complete JPEG file with its JFIF density set to dpi (when above 0 and
// the file has a JFIF header: densitySet) and the metadata's markers placed
// after the JFIF header. Empty when jpeg is not a JPEG file this can edit.
std::vector<unsigned char> WithMetadata(const unsigned char* jpeg, size_t size, const SourceMetadata& metadata,
                                        int dpi, bool& densitySet);

// Sets PixelXDimension / PixelYDimension to width x height and drops the
// thumbnail (IFD1 and its data). payload is an APP1 payload starting with
// "Exif\0\0". False, with problem set, when the record does not hold
// together; payload is then unspecified.
bool FixExifForOutput(std::vector<JOCTET>& payload, uint32_t width, uint32_t height, std::string& problem);
