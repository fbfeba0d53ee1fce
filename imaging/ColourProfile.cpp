#include "imaging/ColourProfile.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <lcms2.h>

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

ProfileSpace SpaceOf(cmsHPROFILE p) {
    switch (cmsGetColorSpace(p)) {
    case cmsSigRgbData:
        return ProfileSpace::Rgb;
    case cmsSigGrayData:
        return ProfileSpace::Grey;
    case cmsSigCmykData:
        return ProfileSpace::Cmyk;
    default:
        return ProfileSpace::Other;
    }
}

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

bool MatrixIsSrgb(cmsHPROFILE p, cmsHPROFILE srgb) {
    const cmsTagSignature colorants[] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (cmsTagSignature tag : colorants) {
        const auto* want = static_cast<const cmsCIEXYZ*>(cmsReadTag(srgb, tag));
        if (!want || !Near(static_cast<const cmsCIEXYZ*>(cmsReadTag(p, tag)), *want)) return false;
    }
    // Version 4 profiles record D50 here; many version 2 sRGB profiles
    // record the display's D65 instead.
    if (cmsIsTag(p, cmsSigMediaWhitePointTag)) {
        const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(p, cmsSigMediaWhitePointTag));
        const cmsCIEXYZ d65 = {0.9505, 1.0, 1.0890};
        if (!white || !(Near(white, *cmsD50_XYZ()) || Near(white, d65))) return false;
    }
    const auto* srgbCurve = static_cast<const cmsToneCurve*>(cmsReadTag(srgb, cmsSigRedTRCTag));
    if (!srgbCurve) return false;
    const Curve back(cmsReverseToneCurve(srgbCurve));
    if (!back.c) return false;
    const cmsTagSignature curves[] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (cmsTagSignature tag : curves) {
        const auto* curve = static_cast<const cmsToneCurve*>(cmsReadTag(p, tag));
        if (!curve) return false;
        for (int v = 0; v < 256; ++v) {
            const float linear = cmsEvalToneCurveFloat(curve, static_cast<float>(v) / 255.0f);
            const double level = cmsEvalToneCurveFloat(back.c, linear) * 255.0;
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

bool ProfileIsSrgb(cmsContext ctx, cmsHPROFILE p) {
    if (SpaceOf(p) != ProfileSpace::Rgb) return false;
    const ProfileHandle srgb(cmsCreate_sRGBProfileTHR(ctx));
    if (!srgb.h) return false;
    return cmsIsMatrixShaper(p) ? MatrixIsSrgb(p, srgb.h) : TablesAreSrgb(ctx, p, srgb.h);
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

PhotoColour::~PhotoColour() { Release(); }

void PhotoColour::Release() {
    if (m_transform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_transform));
    if (m_context) cmsDeleteContext(static_cast<cmsContext>(m_context));
    m_transform = nullptr;
    m_context = nullptr;
    m_greyTable.clear();
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
    Prepare(icc, colour, grey, keepRgb);
    // Markers that do not join into one profile.
    if (any && icc.empty()) m_use = ProfileUse::Damaged;
}

void PhotoColour::Prepare(const std::vector<JOCTET>& icc, SourceColour colour, bool grey, bool keepRgb) {
    Release();
    m_colour = colour;
    m_greyPhoto = grey;
    m_icc = icc;
    if (icc.empty()) return;
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
    m_space = SpaceOf(p.h);
    const bool cmyk = m_colour != SourceColour::Rgb;
    const ProfileSpace wanted = cmyk ? ProfileSpace::Cmyk : grey ? ProfileSpace::Grey : ProfileSpace::Rgb;
    if (!IsProfileOfPixels(p.h) || m_space != wanted) {
        m_use = ProfileUse::Unfit;
        return;
    }
    const ProfileHandle srgb(cmsCreate_sRGBProfileTHR(ctx));
    if (!srgb.h) return;

    switch (m_space) {
    case ProfileSpace::Rgb:
        if (ProfileIsSrgb(ctx, p.h)) {
            m_use = ProfileUse::Srgb;
        } else if (keepRgb) {
            m_use = ProfileUse::Kept;
        } else {
            m_transform = cmsCreateTransformTHR(ctx, p.h, TYPE_RGB_8, srgb.h, TYPE_RGB_8, PHOTO_INTENT,
                                                PHOTO_TRANSFORM_FLAGS);
            if (m_transform) m_use = ProfileUse::Convert;
        }
        return;
    case ProfileSpace::Cmyk: {
        // Adobe's files store 255 for no ink, as the decoder hands them on.
        const cmsUInt32Number in = m_colour == SourceColour::CmykInverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
        m_transform = cmsCreateTransformTHR(ctx, p.h, in, srgb.h, TYPE_RGB_8, PHOTO_INTENT, PHOTO_TRANSFORM_FLAGS);
        if (m_transform) m_use = ProfileUse::Convert;
        return;
    }
    case ProfileSpace::Grey: {
        // 256 levels are all a grey photograph has: a table of them is the
        // whole conversion.
        const TransformHandle t(cmsCreateTransformTHR(ctx, p.h, TYPE_GRAY_8, srgb.h, TYPE_RGB_8, PHOTO_INTENT,
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
    if (m_transform && once) {
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

void PrepareRow(const PhotoColour& colour, const uint8_t* tone, const JSAMPLE* decoded, JSAMPLE* rgb, size_t n) {
    colour.ToSrgb(decoded, rgb, n);
    if (tone)
        for (size_t i = 0; i < n * 3; ++i) rgb[i] = tone[rgb[i]];
}
