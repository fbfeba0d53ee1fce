#pragma once
// A photograph's embedded ICC profile and what it means for its pixels.
// Labs read the numbers of a JPEG as sRGB; a photograph in Adobe RGB (most
// cameras can) or Display P3 (phones) would print dull or garish. Such
// photographs are converted to sRGB (matrix profiles by ShaperToSrgb, the
// others by one Little CMS transform); photographs without a profile, or
// with one that is sRGB under another name, keep exactly the pixels they
// always had.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/JpegSource.h"

// What the profile's numbers are: its colour space.
enum class ProfileSpace { Unknown, Rgb, Grey, Cmyk, Other };

// The one reading of which colour space a profile is for: the four
// characters of its header that name it ("RGB ", "GRAY", "CMYK", ...; empty
// when the profile is too short to have a header), and what they mean here.
std::string ProfileSpaceCode(const std::vector<JOCTET>& icc);
ProfileSpace SpaceOfProfile(const std::vector<JOCTET>& icc);

// What is done with the pixels.
enum class ProfileUse {
    None,     // no profile: the pixels are taken as sRGB
    Srgb,     // sRGB's primaries, white and tone curves: nothing to do
    Convert,  // through the transform to sRGB
    Kept,     // an RGB profile that goes along with the unconverted pixels
    Damaged,  // cannot be read: taken as sRGB
    Unfit,    // readable, but not for these pixels: taken as sRGB
};

// A matrix-shaper RGB profile's conversion to sRGB (Adobe RGB, ProPhoto,
// Display P3: the wide-gamut profiles photographs carry). Little CMS spends
// 12 ns a pixel on it, more than decoding and encoding the pixel together;
// its whole content is three tone curves and one matrix, which fit in
// tables small enough for the first-level cache. The results stay within one
// level of Little CMS's own.
class ShaperToSrgb {
public:
    // From an opened profile (cmsHPROFILE). False when its conversion is
    // more than curves and a matrix, which is then Little CMS's to do.
    bool Build(void* profile);
    bool Ready() const { return !m_columns.empty(); }
    void Clear() { m_columns.clear(); }

    // n pixels of R, G, B; out may be in itself. The fastest kernel the
    // processor has; every kernel gives the same bytes.
    void Convert(const JSAMPLE* in, JSAMPLE* out, size_t n) const;
    void ConvertPlain(const JSAMPLE* in, JSAMPLE* out, size_t n) const;
    // Only where Avx2Available().
    void ConvertAvx2(const JSAMPLE* in, JSAMPLE* out, size_t n) const;
    static bool Avx2Available();

private:
    // For each channel and level, that level's share of linear sRGB R, G, B
    // in steps of the encoding table (and a 0 to pad to four floats): a
    // pixel is the sum of three loads.
    std::vector<float> m_columns;
};

// One per photograph: built while its decoder starts, used for its rows.
// The transform lives in a Little CMS context of its own, whose errors are
// silenced, so photographs on several threads never share one.
class PhotoColour {
public:
    PhotoColour() = default;
    ~PhotoColour();
    PhotoColour(const PhotoColour&) = delete;
    PhotoColour& operator=(const PhotoColour&) = delete;

    // From the profile among the decoder's saved markers (SaveLookMarkers),
    // after its header is read and SelectRgbOutput chose colour. keepRgb:
    // an RGB profile is to be written into the new file, so its pixels must
    // stay as they are. Never fails: an unusable profile counts as none.
    void Prepare(jpeg_decompress_struct& cinfo, SourceColour colour, bool keepRgb = false);

    // The same from the joined profile (empty: none); grey tells a
    // one-component photograph, whose rows arrive as R = G = B; unjoined,
    // that there were profile markers that do not join into one.
    void Prepare(const std::vector<JOCTET>& icc, SourceColour colour, bool grey, bool keepRgb = false,
                 bool unjoined = false);

    ProfileUse Use() const { return m_use; }
    // The joined profile as found (empty: none, or markers that do not join).
    const std::vector<JOCTET>& Profile() const { return m_icc; }
    ProfileSpace Space() const { return m_space; }
    bool Converts() const { return m_use == ProfileUse::Convert; }
    // Rows of three bytes per pixel: the conversion may then work in place,
    // and on an averaged preview instead of every decoded row.
    bool ThreeBytesIn() const { return m_colour == SourceColour::Rgb; }

    // The conversion without Little CMS, for a matrix-shaper profile to be
    // converted; else null.
    const ShaperToSrgb* Shaper() const { return m_shaper.Ready() ? &m_shaper : nullptr; }

    // Why a profile was not used (Damaged, Unfit), for a warning; else empty.
    std::string Problem() const;

    // n decoded pixels (three or four bytes each, as the decoder gives them)
    // to R, G, B in sRGB. For three-byte pixels rgb may be decoded itself.
    // once: these pixels are all there is (an averaged preview), so the
    // results are not worth remembering for the next call.
    void ToSrgb(const JSAMPLE* decoded, JSAMPLE* rgb, size_t n, bool once = false) const;

private:
    void Release();
    void Judge(const std::vector<JOCTET>& icc, bool grey, bool keepRgb);
    void Transform(const JSAMPLE* decoded, JSAMPLE* rgb, size_t n) const;

    SourceColour m_colour = SourceColour::Rgb;
    std::vector<JOCTET> m_icc;
    ProfileUse m_use = ProfileUse::None;
    ProfileSpace m_space = ProfileSpace::Unknown;
    bool m_greyPhoto = false;
    void* m_context = nullptr;    // cmsContext
    void* m_transform = nullptr;  // cmsHTRANSFORM for RGB and CMYK rows
    std::vector<JSAMPLE> m_greyTable;  // 256 x R, G, B for grey rows
    ShaperToSrgb m_shaper;             // instead of m_transform when it can

    // The transform's results for colours met before (see Transform); rows
    // of one photograph are prepared on one thread at a time.
    mutable std::vector<uint32_t> m_memo;
    mutable std::vector<JSAMPLE> m_missIn, m_missOut;
    mutable std::vector<uint32_t> m_found, m_missAt;
};

// Whether a profile holds together: Little CMS opens it and its header gives
// its own length. Readers such as exiv2 refuse a file whose profile does not,
// so such a profile never goes into a new file.
bool ProfileIsWhole(const std::vector<JOCTET>& icc);

// The profile's description ("Display P3", "Adobe RGB (1998)"), printable
// ASCII only; empty when it has none or cannot be read.
std::string ProfileDescription(const std::vector<JOCTET>& icc);

// Everything done to a decoded row before it is encoded: inks to light, the
// photograph's colours to sRGB, then the tone curve (tone null: none). rgb
// may be decoded itself for three-byte rows.
void PrepareRow(const PhotoColour& colour, const uint8_t* tone, const JSAMPLE* decoded, JSAMPLE* rgb, size_t n);

// The rendering intent of every conversion. Perceptual: for photographs,
// colours outside sRGB are compressed with their neighbours instead of being
// clipped into flat patches; matrix profiles (Adobe RGB, Display P3) have
// only the colorimetric mapping, which Little CMS then uses anyway.
constexpr uint32_t PHOTO_INTENT = 0;  // INTENT_PERCEPTUAL
// Little CMS's flags for the RGB and CMYK transforms.
extern const uint32_t PHOTO_TRANSFORM_FLAGS;
