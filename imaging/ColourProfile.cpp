#include "imaging/ColourProfile.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <lcms2.h>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TRIMORA_AVX2_KERNEL 1
#include <immintrin.h>
#endif

// Without the 1-pixel cache a transform keeps no state between calls, so it
// may be used from whichever thread without care; the cache only pays off
// for flat areas, which photographs have few of.
const uint32_t PHOTO_TRANSFORM_FLAGS = cmsFLAGS_NOCACHE;

namespace {

void Silent(cmsContext, cmsUInt32Number, const char*) {}

// Closes a profile on every path.
struct ProfileHandle {
    cmsHPROFILE h = nullptr;
    ProfileHandle() = default;
    explicit ProfileHandle(cmsHPROFILE p) : h(p) {}
    ~ProfileHandle() {
        if (h) cmsCloseProfile(h);
    }
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;
};

struct TransformHandle {
    cmsHTRANSFORM h = nullptr;
    explicit TransformHandle(cmsHTRANSFORM t) : h(t) {}
    ~TransformHandle() {
        if (h) cmsDeleteTransform(h);
    }
    TransformHandle(const TransformHandle&) = delete;
    TransformHandle& operator=(const TransformHandle&) = delete;
};

struct Curve {
    cmsToneCurve* c = nullptr;
    explicit Curve(cmsToneCurve* curve) : c(curve) {}
    ~Curve() {
        if (c) cmsFreeToneCurve(c);
    }
    Curve(const Curve&) = delete;
    Curve& operator=(const Curve&) = delete;
};

const char* NameOf(ProfileSpace s) {
    switch (s) {
    case ProfileSpace::Rgb:
        return "RGB";
    case ProfileSpace::Grey:
        return "grey";
    case ProfileSpace::Cmyk:
        return "CMYK";
    default:
        return "other";
    }
}

// Colorants and white points are XYZ numbers stored as s15Fixed16: a few
// thousandths cover every rounding that sRGB profiles in circulation show,
// while Rec. 709's neighbours (Adobe RGB, P3) differ by tenths.
constexpr double XYZ_TOLERANCE = 0.003;
// A tone curve is sRGB's when going through it and back through sRGB's
// moves no 8-bit level by more than one: converting would change nothing
// visible. Gamma 2.2, the nearest rival, moves the darks by several.
constexpr double LEVEL_TOLERANCE = 1.0;

bool Near(const cmsCIEXYZ* a, const cmsCIEXYZ& b) {
    return a && std::fabs(a->X - b.X) <= XYZ_TOLERANCE && std::fabs(a->Y - b.Y) <= XYZ_TOLERANCE &&
           std::fabs(a->Z - b.Z) <= XYZ_TOLERANCE;
}

// sRGB as Little CMS makes it: its colorants and its tone curve backwards.
// Made once, read by every photograph on every thread; building the curve
// and the profile again for each photograph cost more than half a
// millisecond, a share of a preview.
struct SrgbReference {
    cmsCIEXYZ colorants[3] = {};
    cmsToneCurve* back = nullptr;
    SrgbReference() {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        if (!srgb) return;
        const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
        bool all = true;
        for (int c = 0; c < 3; ++c) {
            const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, tags[c]));
            if (xyz) colorants[c] = *xyz;
            all = all && xyz;
        }
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
        if (all && curve) back = cmsReverseToneCurve(curve);
        cmsCloseProfile(srgb);
    }
    ~SrgbReference() {
        if (back) cmsFreeToneCurve(back);
    }
    SrgbReference(const SrgbReference&) = delete;
    SrgbReference& operator=(const SrgbReference&) = delete;
    bool Ready() const { return back != nullptr; }
};

const SrgbReference& Srgb() {
    static const SrgbReference reference;
    return reference;
}

bool MatrixIsSrgb(cmsHPROFILE p) {
    const SrgbReference& srgb = Srgb();
    if (!srgb.Ready()) return false;
    const cmsTagSignature colorants[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c)
        if (!Near(static_cast<const cmsCIEXYZ*>(cmsReadTag(p, colorants[c])), srgb.colorants[c])) return false;
    // Version 4 profiles record D50 here; many version 2 sRGB profiles
    // record the display's D65 instead.
    if (cmsIsTag(p, cmsSigMediaWhitePointTag)) {
        const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, cmsSigMediaWhitePointTag));
        const cmsCIEXYZ d65 = {0.9505, 1.0, 1.0890};
        if (!white || !(Near(white, *cmsD50_XYZ()) || Near(white, d65))) return false;
    }
    const cmsTagSignature curves[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (cmsTagSignature tag : curves) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, tag));
        if (!curve) return false;
        for (int v = 0; v < 256; ++v) {
            const float linear = cmsEvalToneCurveFloat(curve, static_cast<float>(v) / 255.0f);
            const double level = cmsEvalToneCurveFloat(srgb.back, linear) * 255.0;
            if (!(std::fabs(level - v) <= LEVEL_TOLERANCE)) return false;
        }
    }
    return true;
}

// A profile made of tables, not a matrix: sRGB when its colorimetric
// mapping to sRGB leaves a grid of colours where they were.
bool TablesAreSrgb(cmsContext ctx, cmsHPROFILE p, cmsHPROFILE srgb) {
    const TransformHandle t(cmsCreateTransformTHR(ctx, p, TYPE_RGB_16, srgb, TYPE_RGB_16, INTENT_RELATIVE_COLORIMETRIC,
                                            cmsFLAGS_NOCACHE));
    if (!t.h) return false;
    constexpr int STEPS = 9;
    for (int r = 0; r < STEPS; ++r)
        for (int g = 0; g < STEPS; ++g)
            for (int b = 0; b < STEPS; ++b) {
                const cmsUInt16Number in[3] = {static_cast<cmsUInt16Number>(r * 65535 / (STEPS - 1)),
                                               static_cast<cmsUInt16Number>(g * 65535 / (STEPS - 1)),
                                               static_cast<cmsUInt16Number>(b * 65535 / (STEPS - 1))};
                cmsUInt16Number out[3];
                cmsDoTransform(t.h, in, out, 1);
                for (int c = 0; c < 3; ++c)
                    if (std::abs(int(out[c]) - int(in[c])) > static_cast<int>(257 * LEVEL_TOLERANCE)) return false;
            }
    return true;
}

// Little CMS's sRGB profile in a photograph's context, made only when a
// transform needs it.
class LazySrgb {
public:
    explicit LazySrgb(cmsContext ctx) : m_ctx(ctx) {}
    ~LazySrgb() {
        if (m_profile) cmsCloseProfile(m_profile);
    }
    LazySrgb(const LazySrgb&) = delete;
    LazySrgb& operator=(const LazySrgb&) = delete;
    cmsHPROFILE Get() {
        if (!m_profile) m_profile = cmsCreate_sRGBProfileTHR(m_ctx);
        return m_profile;
    }

private:
    cmsContext m_ctx;
    cmsHPROFILE m_profile = nullptr;
};

bool ProfileIsSrgb(cmsContext ctx, cmsHPROFILE p, LazySrgb& srgb) {
    if (cmsIsMatrixShaper(p)) return MatrixIsSrgb(p);
    return srgb.Get() && TablesAreSrgb(ctx, p, srgb.Get());
}

bool IsProfileOfPixels(cmsHPROFILE p) {
    switch (cmsGetDeviceClass(p)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        return true;
    default:
        return false;  // device links, abstract and named-colour profiles
    }
}

}  // namespace

std::string ProfileSpaceCode(const std::vector<JOCTET>& icc) {
    constexpr size_t HEADER_SIZE = 128;
    if (icc.size() < HEADER_SIZE) return {};
    return std::string(reinterpret_cast<const char*>(icc.data()) + 16, 4);
}

ProfileSpace SpaceOfProfile(const std::vector<JOCTET>& icc) {
    const std::string code = ProfileSpaceCode(icc);
    if (code.empty()) return ProfileSpace::Unknown;
    if (code == "RGB ") return ProfileSpace::Rgb;
    if (code == "GRAY") return ProfileSpace::Grey;
    if (code == "CMYK") return ProfileSpace::Cmyk;
    return ProfileSpace::Other;
}

PhotoColour::~PhotoColour() { Release(); }

void PhotoColour::Release() {
    if (m_transform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
    if (m_context) cmsDeleteContext(static_cast<cmsContext>(m_context));
    m_transform = nullptr;
    m_context = nullptr;
    m_greyTable.clear();
    m_shaper.Clear();
    m_memo.clear();
    m_icc.clear();
    m_use = ProfileUse::None;
    m_space = ProfileSpace::Unknown;
}

void PhotoColour::Prepare(jpeg_decompress_struct& cinfo, SourceColour colour, bool keepRgb) {
    bool any = false;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        any = any || (m->marker == JPEG_APP0 + 2 && m->data_length >= 14 &&
                      std::memcmp(m->data, "ICC_PROFILE", 12) == 0);
    std::vector<JOCTET> icc;
    JOCTET* data = nullptr;
    unsigned int size = 0;
    if (any && jpeg_read_icc_profile(&cinfo, &data, &size)) icc.assign(data, data + size);
    std::free(data);
    const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    Prepare(icc, colour, grey, keepRgb, any && icc.empty());
}

void PhotoColour::Prepare(const std::vector<JOCTET>& icc, SourceColour colour, bool grey, bool keepRgb,
                          bool unjoined) {
    Release();
    m_colour = colour;
    m_greyPhoto = grey;
    m_icc = icc;
    if (icc.empty()) {
        // Markers that do not join into one profile.
        if (unjoined) m_use = ProfileUse::Damaged;
        return;
    }
    Judge(icc, grey, keepRgb);
    // A context is only worth keeping while it serves a transform.
    if (!m_transform && m_context) {
        cmsDeleteContext(static_cast<cmsContext>(m_context));
        m_context = nullptr;
    }
}

void PhotoColour::Judge(const std::vector<JOCTET>& icc, bool grey, bool keepRgb) {
    m_use = ProfileUse::Damaged;
    cmsContext ctx = cmsCreateContext(nullptr, nullptr);
    if (!ctx) return;
    m_context = ctx;
    cmsSetLogErrorHandlerTHR(ctx, Silent);
    const ProfileHandle p(cmsOpenProfileFromMemTHR(ctx, icc.data(), static_cast<cmsUInt32Number>(icc.size())));
    if (!p.h) return;
    m_space = SpaceOfProfile(icc);
    const bool cmyk = m_colour != SourceColour::Rgb;
    const ProfileSpace wanted = cmyk ? ProfileSpace::Cmyk : grey ? ProfileSpace::Grey : ProfileSpace::Rgb;
    if (!IsProfileOfPixels(p.h) || m_space != wanted) {
        m_use = ProfileUse::Unfit;
        return;
    }
    LazySrgb srgb(ctx);

    switch (m_space) {
    case ProfileSpace::Rgb:
        if (ProfileIsSrgb(ctx, p.h, srgb)) {
            m_use = ProfileUse::Srgb;
        } else if (keepRgb && ProfileIsWhole(icc)) {
            // Only a profile that goes into the new file keeps the pixels
            // as they are; a damaged one is left out, so they are converted.
            m_use = ProfileUse::Kept;
        } else if (m_shaper.Build(p.h)) {
            m_use = ProfileUse::Convert;
        } else if (srgb.Get()) {
            m_transform = cmsCreateTransformTHR(ctx, p.h, TYPE_RGB_8, srgb.Get(), TYPE_RGB_8, PHOTO_INTENT,
                                                PHOTO_TRANSFORM_FLAGS);
            if (m_transform) m_use = ProfileUse::Convert;
        }
        return;
    case ProfileSpace::Cmyk: {
        if (!srgb.Get()) return;
        // Adobe's files store 255 for no ink, as the decoder hands them on.
        const cmsUInt32Number in = m_colour == SourceColour::CmykInverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
        m_transform = cmsCreateTransformTHR(ctx, p.h, in, srgb.Get(), TYPE_RGB_8, PHOTO_INTENT, PHOTO_TRANSFORM_FLAGS);
        if (m_transform) m_use = ProfileUse::Convert;
        return;
    }
    case ProfileSpace::Grey: {
        // 256 levels are all a grey photograph has: a table of them is the
        // whole conversion.
        if (!srgb.Get()) return;
        const TransformHandle t(cmsCreateTransformTHR(ctx, p.h, TYPE_GRAY_8, srgb.Get(), TYPE_RGB_8, PHOTO_INTENT,
                                                PHOTO_TRANSFORM_FLAGS));
        if (!t.h) return;
        JSAMPLE levels[256];
        for (int v = 0; v < 256; ++v) levels[v] = static_cast<JSAMPLE>(v);
        m_greyTable.assign(256 * 3, 0);
        cmsDoTransform(t.h, levels, m_greyTable.data(), 256);
        bool same = true;
        for (int i = 0; i < 256 * 3; ++i) same = same && std::abs(int(m_greyTable[i]) - i / 3) <= LEVEL_TOLERANCE;
        if (same) {
            m_greyTable.clear();
            m_use = ProfileUse::Srgb;
        } else {
            m_use = ProfileUse::Convert;
        }
        return;
    }
    default:
        return;
    }
}

namespace {

// A profile opened in a context of its own whose errors are silenced; h is
// null when it cannot be opened.
struct OpenedProfile {
    cmsContext ctx = nullptr;
    cmsHPROFILE h = nullptr;
    explicit OpenedProfile(const std::vector<JOCTET>& icc) {
        constexpr size_t HEADER_SIZE = 128;
        if (icc.size() < HEADER_SIZE) return;
        ctx = cmsCreateContext(nullptr, nullptr);
        if (!ctx) return;
        cmsSetLogErrorHandlerTHR(ctx, Silent);
        h = cmsOpenProfileFromMemTHR(ctx, icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    }
    ~OpenedProfile() {
        if (h) cmsCloseProfile(h);
        if (ctx) cmsDeleteContext(ctx);
    }
    OpenedProfile(const OpenedProfile&) = delete;
    OpenedProfile& operator=(const OpenedProfile&) = delete;
};

}  // namespace

bool ProfileIsWhole(const std::vector<JOCTET>& icc) {
    // Little CMS reads a profile whose header claims more bytes than it has
    // as far as it goes; exiv2 and others refuse it.
    if (icc.size() < 4) return false;
    const uint32_t stated = uint32_t(icc[0]) << 24 | uint32_t(icc[1]) << 16 | uint32_t(icc[2]) << 8 | icc[3];
    if (stated != icc.size()) return false;
    return OpenedProfile(icc).h != nullptr;
}

std::string ProfileDescription(const std::vector<JOCTET>& icc) {
    const OpenedProfile p(icc);
    if (!p.h) return "";
    char text[128] = {};
    if (cmsGetProfileInfoASCII(p.h, cmsInfoDescription, "en", "US", text, sizeof text) == 0) return "";
    std::string name;
    for (const char* c = text; *c && name.size() < 64; ++c)
        if (*c >= 0x20 && *c <= 0x7E) name += *c;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

std::string PhotoColour::Problem() const {
    const std::string after = "; its colours are taken as sRGB";
    if (m_use == ProfileUse::Damaged) return "its colour profile is damaged" + after;
    if (m_use != ProfileUse::Unfit) return "";
    const ProfileSpace pixels = m_colour != SourceColour::Rgb ? ProfileSpace::Cmyk
                                : m_greyPhoto                 ? ProfileSpace::Grey
                                                              : ProfileSpace::Rgb;
    if (m_space == pixels || m_space == ProfileSpace::Other)
        return "its colour profile does not describe the pixels of a photograph" + after;
    return std::string("its colour profile is for ") + NameOf(m_space) + " pixels, not for its " + NameOf(pixels) +
           " ones" + after;
}

// Little CMS takes 10 to 15 ns a pixel, longer than decoding and encoding
// it together, while a photograph holds far fewer colours than pixels (a
// few hundred thousand in 24 million, and neighbours alike). So each
// colour's result is kept in a table indexed by a hash of the colour, and
// only the colours not found there go through the transform, gathered a row
// at a time. The results are Little CMS's own, whichever way they are found.
//
// A slot holds R, G, B, a valid bit and the 7 bits of the hash that its
// index leaves out: the hash is a bijection of the 24-bit colour, so index
// and tag together name the colour. 2^17 slots of 4 bytes stay in the
// second-level cache beside the codec's state. The look-up has no branch on
// hit or miss, whose pattern no predictor could guess, and does not write
// the row, so a row converted in place still holds the colours that missed.
constexpr int MEMO_BITS = 17;
constexpr int TAG_BITS = 24 - MEMO_BITS;

namespace {

// Mixes all 24 bits into the top ones; each step is invertible modulo 2^24.
inline uint32_t MemoHash(uint32_t colour) {
    uint32_t h = colour;
    h ^= h >> 12;
    h = (h * 0x9E3779B1u) & 0xFFFFFF;
    h ^= h >> 11;
    return h;
}

inline uint32_t MemoTag(uint32_t hash) { return (hash & ((1u << TAG_BITS) - 1)) << 1 | 1; }

}  // namespace

void PhotoColour::Transform(const JSAMPLE* in, JSAMPLE* out, size_t n) const {
    const auto transform = static_cast<cmsHTRANSFORM>(m_transform);
    if (m_colour != SourceColour::Rgb) {
        // CMYK photographs are rare enough to go through as they are.
        cmsDoTransform(transform, in, out, static_cast<cmsUInt32Number>(n));
        return;
    }
    if (m_memo.empty()) m_memo.assign(size_t{1} << MEMO_BITS, 0);
    m_found.resize(n);
    m_missAt.resize(n + 1);  // every pixel is noted as if it missed
    uint32_t* memo = m_memo.data();
    uint32_t* found = m_found.data();
    uint32_t* missAt = m_missAt.data();
    size_t misses = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t hash = MemoHash(uint32_t{in[i * 3]} << 16 | uint32_t{in[i * 3 + 1]} << 8 | in[i * 3 + 2]);
        const uint32_t entry = memo[hash >> TAG_BITS];
        found[i] = entry;
        missAt[misses] = static_cast<uint32_t>(i);
        misses += (entry >> 24) != MemoTag(hash);
    }
    if (misses > 0) {
        m_missIn.resize(misses * 3);
        m_missOut.resize(misses * 3);
        JSAMPLE* missIn = m_missIn.data();
        for (size_t m = 0; m < misses; ++m) std::memcpy(missIn + m * 3, in + size_t{missAt[m]} * 3, 3);
        cmsDoTransform(transform, missIn, m_missOut.data(), static_cast<cmsUInt32Number>(misses));
        for (size_t m = 0; m < misses; ++m) {
            const JSAMPLE* p = missIn + m * 3;
            const JSAMPLE* v = &m_missOut[m * 3];
            const uint32_t hash = MemoHash(uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
            const uint32_t entry = MemoTag(hash) << 24 | uint32_t{v[0]} << 16 | uint32_t{v[1]} << 8 | v[2];
            memo[hash >> TAG_BITS] = entry;
            found[missAt[m]] = entry;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        out[i * 3] = static_cast<JSAMPLE>(found[i] >> 16);
        out[i * 3 + 1] = static_cast<JSAMPLE>(found[i] >> 8);
        out[i * 3 + 2] = static_cast<JSAMPLE>(found[i]);
    }
}

void PhotoColour::ToSrgb(const JSAMPLE* decoded, JSAMPLE* rgb, size_t n, bool once) const {
    if (m_shaper.Ready()) {
        m_shaper.Convert(decoded, rgb, n);
    } else if (m_transform && once) {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_transform), decoded, rgb, static_cast<cmsUInt32Number>(n));
    } else if (m_transform) {
        Transform(decoded, rgb, n);
    } else if (!m_greyTable.empty()) {
        const JSAMPLE* table = m_greyTable.data();
        for (size_t i = 0; i < n; ++i, decoded += 3, rgb += 3) {
            const JSAMPLE* e = table + decoded[0] * 3;
            rgb[0] = e[0];
            rgb[1] = e[1];
            rgb[2] = e[2];
        }
    } else if (m_colour != SourceColour::Rgb) {
        CmykToRgb(decoded, rgb, n, m_colour == SourceColour::CmykInverted);
    } else if (rgb != decoded) {
        std::memcpy(rgb, decoded, n * 3);
    }
}

// The matrix-shaper conversion. Linear light goes to sRGB through a table
// of LINEAR_STEPS + 1 steps: where sRGB's curve is steepest, near black
// (12.92 x 255 levels a unit), half a step is 0.2 of a level, which leaves
// Little CMS's own fixed-point rounding room within one level of ours.
constexpr int LINEAR_STEPS = 8192;

namespace {

const uint8_t* SrgbEncoding() {
    static const std::array<uint8_t, LINEAR_STEPS + 1> table = [] {
        std::array<uint8_t, LINEAR_STEPS + 1> t{};
        for (int i = 0; i <= LINEAR_STEPS; ++i) {
            const double x = static_cast<double>(i) / LINEAR_STEPS;
            const double v = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
            t[i] = static_cast<uint8_t>(std::lround(v * 255));
        }
        return t;
    }();
    return table.data();
}

bool Invert(const double m[3][3], double inverse[3][3]) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::fabs(det) < 1e-9) return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            // The cofactor of (c, r), through the cyclic order of the others.
            const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
            inverse[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return true;
}

// The colorants as the columns of a matrix to XYZ.
bool ColorantMatrix(cmsHPROFILE p, double m[3][3]) {
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, tags[c]));
        if (!xyz) return false;
        m[0][c] = xyz->X;
        m[1][c] = xyz->Y;
        m[2][c] = xyz->Z;
    }
    return true;
}

// The columns hold linear light times LINEAR_STEPS, and the red one half a
// step more, so that a pixel's sum is its index into the encoding plus a
// half, which the truncation rounds. Every kernel ends in this arithmetic,
// in this order, so that they all give the same bytes. Clamped like Little
// CMS: colours outside sRGB keep their hue only as far as the clipping does.
constexpr float LOWEST = 0.5f, HIGHEST = LINEAR_STEPS + 0.5f;

inline JSAMPLE Encode(const uint8_t* encoding, float r, float g, float b) {
    float x = (r + g) + b;
    x = x > LOWEST ? x : LOWEST;
    x = x < HIGHEST ? x : HIGHEST;
    return encoding[static_cast<int32_t>(x)];
}

inline void ConvertPixel(const float* columns, const uint8_t* encoding, const JSAMPLE* in, JSAMPLE* out) {
    const float* r = columns + size_t{in[0]} * 4;
    const float* g = columns + (256 + size_t{in[1]}) * 4;
    const float* b = columns + (512 + size_t{in[2]}) * 4;
    const JSAMPLE v0 = Encode(encoding, r[0], g[0], b[0]);
    const JSAMPLE v1 = Encode(encoding, r[1], g[1], b[1]);
    const JSAMPLE v2 = Encode(encoding, r[2], g[2], b[2]);
    out[0] = v0;
    out[1] = v1;
    out[2] = v2;
}

#ifdef TRIMORA_AVX2_KERNEL
// Two pixels to a 256-bit register: the three column sums, the clamp and
// the index are the plain kernel's operations on eight lanes at once (each
// pixel's fourth lane is padding). On the EPYC measured, a gather takes
// longer than eight scalar loads, moving indices one by one from a vector
// to registers costs more than the look-ups, and an arithmetic sRGB curve
// (a polynomial) came out slower than the table. So a block's indices go
// through memory in the order of the bytes they become, and the bytes are
// looked up sixteen at a time into a vector, in two independent halves.
// A block's input is all read before any of it is written.
#define AVX2 __attribute__((target("avx2")))

AVX2 inline __m256 TwoColumns(const float* table, uint32_t first, uint32_t second) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(table + first * 4)),
                                _mm_loadu_ps(table + second * 4), 1);
}

// Six indices, R, G, B of two pixels, in the low lanes.
AVX2 inline __m256i EncodingIndices(__m256 sum) {
    const __m256i index =
        _mm256_cvttps_epi32(_mm256_min_ps(_mm256_max_ps(sum, _mm256_set1_ps(LOWEST)), _mm256_set1_ps(HIGHEST)));
    return _mm256_permutevar8x32_epi32(index, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

// Eight encoded bytes in the low half.
AVX2 inline __m128i EightBytes(const uint8_t* encoding, const int32_t* index) {
    __m128i v = _mm_cvtsi32_si128(encoding[index[0]]);
    v = _mm_insert_epi8(v, encoding[index[1]], 1);
    v = _mm_insert_epi8(v, encoding[index[2]], 2);
    v = _mm_insert_epi8(v, encoding[index[3]], 3);
    v = _mm_insert_epi8(v, encoding[index[4]], 4);
    v = _mm_insert_epi8(v, encoding[index[5]], 5);
    v = _mm_insert_epi8(v, encoding[index[6]], 6);
    return _mm_insert_epi8(v, encoding[index[7]], 7);
}

AVX2 void ShaperAvx2(const float* columns, const uint8_t* encoding, const JSAMPLE* in, JSAMPLE* out, size_t n) {
    constexpr size_t BLOCK = 32;  // 96 bytes: six vectors of sixteen
    const float* R = columns;
    const float* G = columns + 256 * 4;
    const float* B = columns + 512 * 4;
    // Two lanes of slack: each store of six indices writes eight.
    alignas(32) int32_t index[BLOCK * 3 + 2];
    size_t i = 0;
    for (; i + BLOCK <= n; i += BLOCK, in += BLOCK * 3, out += BLOCK * 3) {
        const JSAMPLE* p = in;
        for (size_t k = 0; k < BLOCK; k += 4, p += 12) {
            const __m256 first =
                _mm256_add_ps(_mm256_add_ps(TwoColumns(R, p[0], p[3]), TwoColumns(G, p[1], p[4])), TwoColumns(B, p[2], p[5]));
            const __m256 second = _mm256_add_ps(_mm256_add_ps(TwoColumns(R, p[6], p[9]), TwoColumns(G, p[7], p[10])),
                                                TwoColumns(B, p[8], p[11]));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(index + k * 3), EncodingIndices(first));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(index + k * 3 + 6), EncodingIndices(second));
        }
        for (size_t j = 0; j < BLOCK * 3; j += 16) {
            const __m128i bytes = _mm_unpacklo_epi64(EightBytes(encoding, index + j), EightBytes(encoding, index + j + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), bytes);
        }
    }
    for (; i < n; ++i, in += 3, out += 3) ConvertPixel(columns, encoding, in, out);
}
#undef AVX2
#endif

}  // namespace

bool ShaperToSrgb::Build(void* profile) {
    m_columns.clear();
    const auto p = static_cast<cmsHPROFILE>(profile);
    if (cmsGetColorSpace(p) != cmsSigRgbData || cmsGetPCS(p) != cmsSigXYZData || !cmsIsMatrixShaper(p)) return false;
    // Little CMS prefers a profile's tables to its matrix.
    for (cmsTagSignature tables : {cmsSigAToB0Tag, cmsSigAToB1Tag, cmsSigAToB2Tag, cmsSigDToB0Tag, cmsSigDToB1Tag,
                                   cmsSigDToB2Tag})
        if (cmsIsTag(p, tables)) return false;
    // Colorants hold the profile's white adapted to D50 already; sRGB's
    // inverse takes that to linear sRGB.
    const SrgbReference& srgb = Srgb();
    double from[3][3], to[3][3], back[3][3], m[3][3];
    for (int c = 0; c < 3; ++c) {
        to[0][c] = srgb.colorants[c].X;
        to[1][c] = srgb.colorants[c].Y;
        to[2][c] = srgb.colorants[c].Z;
    }
    if (!srgb.Ready() || !ColorantMatrix(p, from) || !Invert(to, back)) return false;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            m[r][c] = back[r][0] * from[0][c] + back[r][1] * from[1][c] + back[r][2] * from[2][c];
            if (!std::isfinite(m[r][c])) return false;
        }
    const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    std::vector<float> columns(3 * 256 * 4, 0.0f);
    for (int c = 0; c < 3; ++c) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, curveTags[c]));
        if (!curve) return false;
        // A black that is not black gets Little CMS's black point
        // compensation in the perceptual intent, a mapping of its own.
        if (cmsEvalToneCurveFloat(curve, 0.0f) != 0.0f) return false;
        for (int v = 0; v < 256; ++v) {
            const double linear = cmsEvalToneCurveFloat(curve, static_cast<float>(v / 255.0));
            if (!std::isfinite(linear)) return false;
            for (int k = 0; k < 3; ++k) {
                const double rounding = c == 0 ? 0.5 : 0.0;
                columns[(size_t(c) * 256 + v) * 4 + k] = static_cast<float>(m[k][c] * linear * LINEAR_STEPS + rounding);
            }
        }
    }
    m_columns = std::move(columns);
    return true;
}

bool ShaperToSrgb::Avx2Available() {
#ifdef TRIMORA_AVX2_KERNEL
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
#else
    return false;
#endif
}

void ShaperToSrgb::Convert(const JSAMPLE* in, JSAMPLE* out, size_t n) const {
    if (Avx2Available())
        ConvertAvx2(in, out, n);
    else
        ConvertPlain(in, out, n);
}

void ShaperToSrgb::ConvertPlain(const JSAMPLE* in, JSAMPLE* out, size_t n) const {
    const float* columns = m_columns.data();
    const uint8_t* encoding = SrgbEncoding();
    for (size_t i = 0; i < n; ++i, in += 3, out += 3) ConvertPixel(columns, encoding, in, out);
}

void ShaperToSrgb::ConvertAvx2(const JSAMPLE* in, JSAMPLE* out, size_t n) const {
#ifdef TRIMORA_AVX2_KERNEL
    ShaperAvx2(m_columns.data(), SrgbEncoding(), in, out, n);
#else
    ConvertPlain(in, out, n);
#endif
}

void PrepareRow(const PhotoColour& colour, const uint8_t* tone, const JSAMPLE* decoded, JSAMPLE* rgb, size_t n) {
    colour.ToSrgb(decoded, rgb, n);
    if (tone)
        for (size_t i = 0; i < n * 3; ++i) rgb[i] = tone[rgb[i]];
}
