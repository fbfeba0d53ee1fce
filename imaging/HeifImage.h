#pragma once
// Phone photographs stored as HEIF (HEIC: HEVC inside; AVIF: AV1 inside),
// opened once through libheif. What comes out is what the JPEG path works
// with: the upright size, the saved EXIF and XMP as APP1 payloads, and rows
// of upright R, G, B in sRGB, 8 bits a channel.
//
// libheif turns the picture by its irot/imir properties while decoding; the
// EXIF Orientation a phone leaves inside only describes that turning and is
// reported, never applied. libheif 1.15 decodes the whole picture at once,
// so an opened and decoded image holds it (3 bytes a pixel, 6 for 10 and 12
// bits); the rows are converted to sRGB in place, one at a time, as they
// are asked for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imaging/ColourProfile.h"

// The first bytes of a file (at least 12; 64 tell more) are an ISO media
// file of the HEIF family: an ftyp box whose brands name a still image
// (heic, heix, mif1, avif, ...). Cheap: no library call beyond the brands.
bool LooksLikeHeif(const uint8_t* head, size_t size);
// The same for a file, reading its first bytes; the position is put back.
bool LooksLikeHeif(FILE* file);
// The same for a device path; false when it cannot be opened.
bool IsHeifFile(const std::wstring& devicePath);

struct HeifLimits {
    // Larger photographs are refused before a byte of them is decoded.
    uint32_t maxSide = 16384;
    uint64_t maxPixels = 200'000'000;
    // Threads for the tiles of a grid image (as phones write them) and for
    // an HEVC picture's rows: 0 libheif's own choice for tiles and every
    // core for rows; 1 one at a time, for when several photographs are
    // decoded at once already; more, that many.
    int decodingThreads = 0;
};

// An image's colour as its nclx property codes it (ITU-T H.273 code points).
struct HeifNclx {
    uint16_t primaries = 2;  // 2: unspecified
    uint16_t transfer = 2;
    uint16_t matrix = 2;
    bool fullRange = true;
};

class HeifImage {
public:
    HeifImage();
    ~HeifImage();
    HeifImage(const HeifImage&) = delete;
    HeifImage& operator=(const HeifImage&) = delete;

    // Reads the file's structure, the primary image's properties and its
    // metadata, and decides how its colours reach sRGB. file stays the
    // caller's and must stay open while this is used; the path form opens
    // and keeps its own. False, with reason set for people, when the file is
    // not a HEIF image this program can decode.
    bool Open(FILE* file, const HeifLimits& limits, std::string& reason);
    bool Open(const std::wstring& devicePath, const HeifLimits& limits, std::string& reason);

    // The primary image upright (after libheif's turning and cropping).
    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    int BitDepth() const { return m_bitDepth; }
    bool HasAlpha() const { return m_alpha; }
    // "HEVC" or "AV1" (or another codec's name).
    const std::string& Codec() const { return m_codec; }

    // The ICC profile as stored (empty: none).
    const std::vector<uint8_t>& Icc() const { return m_icc; }
    // Whether an nclx property is stored, and its code points.
    bool HasNclx() const { return m_hasNclx; }
    const HeifNclx& Nclx() const { return m_nclx; }
    // The pixels go through a conversion to sRGB.
    bool ConvertsColour() const;
    // The profile or nclx colour could not be used: why (its colours are
    // then taken as sRGB). Else empty.
    const std::string& ColourProblem() const { return m_colourProblem; }

    // The EXIF record as an APP1 payload ("Exif\0\0" and the TIFF record),
    // the XMP packet as one ("http://ns.adobe.com/xap/1.0/\0" and the
    // packet): what FixExifForOutput and FixXmpForOutput take. Empty: none.
    const std::vector<uint8_t>& Exif() const { return m_exif; }
    const std::vector<uint8_t>& Xmp() const { return m_xmp; }
    // The Orientation the EXIF record claims (1 without one). The pixels are
    // upright already; this is for reporting only.
    int ExifOrientation() const { return m_exifOrientation; }

    // Decodes the primary image; threads: the cores an HEVC picture's
    // decoder may use, 0 as the limits say (the first decoding's count
    // stays). False, with reason set, when the codec fails or the data is
    // damaged.
    bool Decode(std::string& reason, int threads = 0);
    // After Decode: the next upright row, width x R, G, B in sRGB; rows come
    // top to bottom, each once. The pointer holds until the next call.
    // Null after the last row.
    const uint8_t* NextRow();
    // Passes over n rows without converting them.
    void SkipRows(uint32_t n);
    // Lets go of the decoded picture; the properties stay.
    void ReleasePixels();

private:
    bool ReadFile(const HeifLimits& limits, std::string& reason);
    void ReadMetadata();
    void DecideColour();
    bool SetUpPlanes(void* decoded);
    const uint8_t* PlanarRow();
    template <typename In>
    void ChromaRows(uint32_t y);
    void Close();

    // libheif's objects; void so that its header stays in one file.
    void* m_context = nullptr;  // heif_context
    void* m_handle = nullptr;   // heif_image_handle
    void* m_image = nullptr;    // heif_image, once decoded
    FILE* m_file = nullptr;
    FILE* m_ownFile = nullptr;
    void* m_reader = nullptr;  // what libheif reads through
    bool m_hevcDecoderSet = false;
    int64_t m_fileSize = 0;
    HeifLimits m_limits;

    uint32_t m_width = 0, m_height = 0;
    int m_bitDepth = 8;
    bool m_alpha = false;
    bool m_premultiplied = false;
    std::string m_codec;
    std::vector<uint8_t> m_icc;
    bool m_hasNclx = false;
    HeifNclx m_nclx;
    std::vector<uint8_t> m_exif, m_xmp;
    int m_exifOrientation = 1;

    // The colour decision: the profile the pixels are in when they are not
    // sRGB (the stored ICC, or one made from the nclx primaries and
    // transfer), judged and converted as a JPEG's is for 8 bits; deeper
    // pixels go through a transform of 16 bits in to 8 out.
    std::vector<uint8_t> m_sourceProfile;
    PhotoColour m_colour;
    void* m_lcmsContext = nullptr;  // cmsContext of m_deepTransform
    void* m_deepTransform = nullptr;
    std::string m_colourProblem;

    // Reading the rows: YCbCr 4:2:0 planes converted here (offsets, scales
    // and matrix in m_ycc), or libheif's interleaved RGB (m_plane).
    bool m_planar = false;
    const uint8_t* m_planes[3] = {};
    size_t m_strides[3] = {};
    float m_ycc[8] = {};
    std::vector<float> m_chroma;
    uint8_t* m_plane = nullptr;
    size_t m_stride = 0;
    uint32_t m_nextRow = 0;
    int m_maxValue = 255;
    std::vector<uint8_t> m_row;
    std::vector<uint16_t> m_deepRow;
};
