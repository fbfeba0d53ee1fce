#include "imaging/HeifImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include <sys/stat.h>

#include <lcms2.h>
#include <libheif/heif.h>

#include "imaging/HevcDecoder.h"
#include "imaging/Orientation.h"
#include "platform/DeviceFs.h"

namespace {

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Brands of still images that libheif reads; sequences (msf1, hevc, avis)
// name one of these too when they also hold a still image.
bool StillImageBrand(const uint8_t* b) {
    static const char* const brands[] = {"heic", "heix", "heim", "heis", "mif1", "mif2", "avif", "avio"};
    for (const char* brand : brands)
        if (std::memcmp(b, brand, 4) == 0) return true;
    return false;
}

// What the ftyp box says: the codec the image's brands promise, or empty
// for "mif1" alone (any codec).
std::string CodecOfBrands(const uint8_t* head, size_t size) {
    const size_t end = std::min<size_t>(size, BigEndian32(head));
    bool hevc = false, av1 = false;
    for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) {
        hevc = hevc || std::memcmp(head + at, "heic", 4) == 0 || std::memcmp(head + at, "heix", 4) == 0;
        av1 = av1 || std::memcmp(head + at, "avif", 4) == 0;
    }
    return hevc ? "HEVC" : av1 ? "AV1" : "";
}

constexpr size_t HEAD_SIZE = 64;

size_t ReadHead(FILE* file, uint8_t* head) {
    const off_t at = ftello(file);
    if (at < 0) return 0;
    const size_t n = std::fread(head, 1, HEAD_SIZE, file);
    std::clearerr(file);
    fseeko(file, at, SEEK_SET);
    return n;
}

// ----- libheif reads through these from the caller's FILE.

struct FileReader {
    FILE* file;
    int64_t size;
};

int64_t ReaderPosition(void* user) { return ftello(static_cast<FileReader*>(user)->file); }

int ReaderRead(void* data, size_t size, void* user) {
    FILE* file = static_cast<FileReader*>(user)->file;
    return std::fread(data, 1, size, file) == size ? 0 : 1;
}

int ReaderSeek(int64_t position, void* user) {
    return fseeko(static_cast<FileReader*>(user)->file, static_cast<off_t>(position), SEEK_SET);
}

heif_reader_grow_status ReaderGrow(int64_t target, void* user) {
    return target <= static_cast<FileReader*>(user)->size ? heif_reader_grow_status_size_reached
                                                          : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader FILE_READER = {1, ReaderPosition, ReaderRead, ReaderSeek, ReaderGrow};

std::string Described(const heif_error& e) {
    return e.message && *e.message ? std::string(" (") + e.message + ")" : std::string();
}

std::string TooLarge(const HeifLimits& limits) {
    return "larger than this program opens (" + std::to_string(limits.maxSide) + " pixels a side, " +
           std::to_string(limits.maxPixels / 1000000) + " megapixels)";
}

// Why libheif gave up, for people: what they can do about it comes first.
std::string ReasonOf(const heif_error& e, const std::string& codec, const HeifLimits& limits) {
    if (e.subcode == heif_suberror_Security_limit_exceeded) return "it is " + TooLarge(limits);
    if (e.code == heif_error_Unsupported_feature && e.subcode == heif_suberror_Unsupported_codec)
        return "its images are compressed with " + (codec.empty() ? std::string("a codec") : codec) +
               ", which this installation cannot decode";
    if (e.code == heif_error_Memory_allocation_error) return "there is not enough memory to decode it";
    if (e.code == heif_error_Unsupported_feature || e.code == heif_error_Unsupported_filetype)
        return "it uses a HEIF feature this program cannot read" + Described(e);
    if (e.code == heif_error_Invalid_input && e.subcode == heif_suberror_End_of_data)
        return "it is incomplete: the file ends too soon";
    return "it is damaged" + Described(e);
}

// ----- Colours of an nclx property as a profile.

struct ToneCurveHandle {
    cmsToneCurve* c;
    ~ToneCurveHandle() {
        if (c) cmsFreeToneCurve(c);
    }
};

// The transfer characteristics as Little CMS's parametric curve from the
// coded value to linear light; false for those it cannot express
// (PQ, HLG: high dynamic range, which has no place in an 8-bit print).
bool TransferCurve(uint16_t transfer, int& type, double params[5], std::string& problem) {
    switch (transfer) {
    case heif_transfer_characteristic_unspecified:
    case heif_transfer_characteristic_IEC_61966_2_1: {
        const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        std::copy(srgb, srgb + 5, params);
        type = 4;
        return true;
    }
    case heif_transfer_characteristic_ITU_R_BT_709_5:
    case heif_transfer_characteristic_ITU_R_BT_601_6:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
    case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit: {
        // The inverse of their camera curve, as H.273 gives it.
        const double rec709[5] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        std::copy(rec709, rec709 + 5, params);
        type = 4;
        return true;
    }
    case heif_transfer_characteristic_linear:
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        params[0] = transfer == heif_transfer_characteristic_linear                   ? 1.0
                    : transfer == heif_transfer_characteristic_ITU_R_BT_470_6_System_M ? 2.2
                                                                                       : 2.8;
        type = 1;
        return true;
    case heif_transfer_characteristic_ITU_R_BT_2100_0_PQ:
        problem = "its colours are coded for high dynamic range (PQ), which this program does not convert";
        return false;
    case heif_transfer_characteristic_ITU_R_BT_2100_0_HLG:
        problem = "its colours are coded for high dynamic range (HLG), which this program does not convert";
        return false;
    default:
        problem = "its colours' transfer characteristics (code " + std::to_string(transfer) +
                  ") are unknown to this program";
        return false;
    }
}

bool ValidChromaticity(float x, float y) { return x > 0 && x < 1 && y > 0 && y < 1 && x + y <= 1; }

// A profile with the nclx primaries, white and transfer curve; empty, with
// problem set, when they cannot be expressed. Its conversion is then judged
// and done as an embedded profile's would be.
std::vector<uint8_t> NclxProfile(const heif_color_profile_nclx& n, std::string& problem) {
    int type = 0;
    double params[5] = {};
    if (!TransferCurve(static_cast<uint16_t>(n.transfer_characteristics), type, params, problem)) return {};
    const bool srgbPrimaries = n.color_primaries == heif_color_primaries_unspecified ||
                               n.color_primaries == heif_color_primaries_ITU_R_BT_709_5;
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
    if (!srgbPrimaries) {
        if (!ValidChromaticity(n.color_primary_red_x, n.color_primary_red_y) ||
            !ValidChromaticity(n.color_primary_green_x, n.color_primary_green_y) ||
            !ValidChromaticity(n.color_primary_blue_x, n.color_primary_blue_y) ||
            !ValidChromaticity(n.color_primary_white_x, n.color_primary_white_y)) {
            problem = "its colour primaries (code " + std::to_string(n.color_primaries) +
                      ") are unknown to this program";
            return {};
        }
        white = {n.color_primary_white_x, n.color_primary_white_y, 1.0};
        primaries = {{n.color_primary_red_x, n.color_primary_red_y, 1.0},
                     {n.color_primary_green_x, n.color_primary_green_y, 1.0},
                     {n.color_primary_blue_x, n.color_primary_blue_y, 1.0}};
    }
    std::vector<uint8_t> bytes;
    const ToneCurveHandle curve{cmsBuildParametricToneCurve(nullptr, type, params)};
    if (!curve.c) return bytes;
    cmsToneCurve* curves[3] = {curve.c, curve.c, curve.c};
    cmsHPROFILE p = cmsCreateRGBProfile(&white, &primaries, curves);
    if (!p) return bytes;
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(p, nullptr, &size) && size > 0) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(p, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(p);
    if (bytes.empty()) problem = "its colours cannot be converted";
    return bytes;
}

// sRGB under its nclx code points: nothing to convert, nothing to judge.
bool NclxIsSrgb(const heif_color_profile_nclx& n) {
    const bool primaries = n.color_primaries == heif_color_primaries_unspecified ||
                           n.color_primaries == heif_color_primaries_ITU_R_BT_709_5;
    const bool transfer = n.transfer_characteristics == heif_transfer_characteristic_unspecified ||
                          n.transfer_characteristics == heif_transfer_characteristic_IEC_61966_2_1;
    return primaries && transfer;
}

void SilentLcms(cmsContext, cmsUInt32Number, const char*) {}

constexpr char EXIF_ID[] = "Exif\0";
constexpr size_t EXIF_ID_SIZE = 6;
constexpr char XMP_ID[] = "http://ns.adobe.com/xap/1.0/";
constexpr size_t XMP_ID_SIZE = sizeof XMP_ID;
// Larger metadata is not a camera's: left alone rather than read.
constexpr size_t MAX_METADATA = 16u << 20;

bool IsTiffHeader(const uint8_t* p, size_t size) {
    return size >= 8 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
                         (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42));
}

// A HEIF Exif item: four bytes giving the offset of the TIFF header in what
// follows (usually 6, past "Exif\0\0"), then the record. Some writers get
// the offset wrong; the TIFF header is looked for where it usually is then.
std::vector<uint8_t> ExifPayload(const std::vector<uint8_t>& item) {
    std::vector<uint8_t> payload;
    if (item.size() < 4) return payload;
    const uint8_t* rest = item.data() + 4;
    const size_t restSize = item.size() - 4;
    size_t tiff = BigEndian32(item.data());
    if (tiff >= restSize || !IsTiffHeader(rest + tiff, restSize - tiff)) {
        tiff = restSize;
        for (size_t at : {size_t{0}, EXIF_ID_SIZE})
            if (at < restSize && IsTiffHeader(rest + at, restSize - at)) tiff = at;
        if (tiff == restSize) return payload;
    }
    payload.assign(EXIF_ID, EXIF_ID + EXIF_ID_SIZE);
    payload.insert(payload.end(), rest + tiff, rest + restSize);
    return payload;
}

}  // namespace

bool LooksLikeHeif(const uint8_t* head, size_t size) {
    if (size < 12 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    const uint32_t boxSize = BigEndian32(head);
    if (boxSize < 16 || boxSize > 4096) return false;
    const size_t end = std::min<size_t>(size, boxSize);
    // The major brand, then the compatible ones past the minor version.
    for (size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4)
        if (StillImageBrand(head + at)) return true;
    return false;
}

bool LooksLikeHeif(FILE* file) {
    uint8_t head[HEAD_SIZE];
    const size_t n = ReadHead(file, head);
    return LooksLikeHeif(head, n);
}

bool IsHeifFile(const std::wstring& devicePath) {
    FILE* file = devfs::OpenRegularFile(devicePath);
    if (!file) return false;
    const bool heif = LooksLikeHeif(file);
    std::fclose(file);
    return heif;
}

HeifImage::HeifImage() = default;

HeifImage::~HeifImage() { Close(); }

void HeifImage::Close() {
    ReleasePixels();
    if (m_handle) heif_image_handle_release(static_cast<heif_image_handle*>(m_handle));
    if (m_context) heif_context_free(static_cast<heif_context*>(m_context));
    if (m_deepTransform) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(m_deepTransform));
    if (m_lcmsContext) cmsDeleteContext(static_cast<cmsContext>(m_lcmsContext));
    if (m_ownFile) std::fclose(m_ownFile);
    delete static_cast<FileReader*>(m_reader);
    m_reader = nullptr;
    m_handle = m_context = m_deepTransform = m_lcmsContext = nullptr;
    m_ownFile = m_file = nullptr;
    m_width = m_height = 0;
    m_bitDepth = 8;
    m_alpha = m_premultiplied = m_hasNclx = m_hevcDecoderSet = false;
    m_codec.clear();
    m_icc.clear();
    m_nclx = HeifNclx();
    m_exif.clear();
    m_xmp.clear();
    m_exifOrientation = 1;
    m_sourceProfile.clear();
    m_colour.Prepare({}, SourceColour::Rgb, false);
    m_colourProblem.clear();
}

bool HeifImage::Open(const std::wstring& devicePath, const HeifLimits& limits, std::string& reason) {
    Close();
    const char* kind = nullptr;
    FILE* file = devfs::OpenRegularFile(devicePath, &kind);
    if (!file) {
        reason = kind ? std::string("it is ") + kind + ", not a photograph"
                      : std::string("it cannot be opened: ") + std::strerror(errno);
        return false;
    }
    const bool ok = Open(file, limits, reason);
    m_ownFile = file;  // after Open, which closes what it held before
    if (!ok) Close();
    return ok;
}

bool HeifImage::Open(FILE* file, const HeifLimits& limits, std::string& reason) {
    Close();
    m_file = file;
    if (!ReadFile(limits, reason)) {
        Close();
        return false;
    }
    ReadMetadata();
    DecideColour();
    return true;
}

bool HeifImage::ReadFile(const HeifLimits& limits, std::string& reason) {
    m_limits = limits;
    struct stat st {};
    if (fstat(fileno(m_file), &st) != 0) {
        reason = "it cannot be read";
        return false;
    }
    m_fileSize = st.st_size;
    uint8_t head[HEAD_SIZE];
    const size_t n = ReadHead(m_file, head);
    if (!LooksLikeHeif(head, n)) {
        reason = "it is not a HEIF image";
        return false;
    }
    m_codec = CodecOfBrands(head, n);
    if ((m_codec == "HEVC" && !heif_have_decoder_for_format(heif_compression_HEVC)) ||
        (m_codec == "AV1" && !heif_have_decoder_for_format(heif_compression_AV1))) {
        reason = "its images are compressed with " + m_codec + ", which this installation cannot decode";
        return false;
    }

    heif_context* ctx = heif_context_alloc();
    if (!ctx) {
        reason = "there is not enough memory to read it";
        return false;
    }
    m_context = ctx;
    // libheif refuses larger images before it allocates anything for them.
    heif_context_set_maximum_image_size_limit(ctx, static_cast<int>(std::min<uint32_t>(limits.maxSide, 1u << 20)) + 1);
    // libheif's 0 is no thread of its own, 1 one thread beside the caller's.
    if (limits.decodingThreads > 0)
        heif_context_set_max_decoding_threads(ctx, limits.decodingThreads == 1 ? 0 : limits.decodingThreads);
    auto* reader = new FileReader{m_file, m_fileSize};
    m_reader = reader;
    fseeko(m_file, 0, SEEK_SET);
    heif_error e = heif_context_read_from_reader(ctx, &FILE_READER, reader, nullptr);
    if (e.code != heif_error_Ok) {
        reason = ReasonOf(e, m_codec, limits);
        return false;
    }
    heif_image_handle* handle = nullptr;
    e = heif_context_get_primary_image_handle(ctx, &handle);
    if (e.code != heif_error_Ok || !handle) {
        reason = e.code == heif_error_Ok ? "it holds no image" : ReasonOf(e, m_codec, limits);
        return false;
    }
    m_handle = handle;
    const int w = heif_image_handle_get_width(handle), h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0) {
        reason = "it is damaged (its image has no size)";
        return false;
    }
    m_width = static_cast<uint32_t>(w);
    m_height = static_cast<uint32_t>(h);
    if (m_width > limits.maxSide || m_height > limits.maxSide ||
        uint64_t{m_width} * m_height > limits.maxPixels) {
        reason = "it is " + std::to_string(m_width) + " x " + std::to_string(m_height) + " pixels, " + TooLarge(limits);
        return false;
    }
    const int depth = heif_image_handle_get_luma_bits_per_pixel(handle);
    m_bitDepth = depth > 0 ? depth : 8;
    if (m_bitDepth > 16) {
        reason = "its " + std::to_string(m_bitDepth) + "-bit pixels are more than this program reads";
        return false;
    }
    m_alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    m_premultiplied = m_alpha && heif_image_handle_is_premultiplied_alpha(handle) != 0;
    return true;
}

void HeifImage::ReadMetadata() {
    const auto* handle = static_cast<const heif_image_handle*>(m_handle);
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0) return;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed = heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    ids.resize(static_cast<size_t>(std::clamp(listed, 0, count)));
    for (heif_item_id id : ids) {
        const char* type = heif_image_handle_get_metadata_type(handle, id);
        const std::string itemType = type ? type : "";
        const char* content = heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = itemType == "Exif" && m_exif.empty();
        const bool xmp = itemType == "mime" && content && std::strcmp(content, "application/rdf+xml") == 0 &&
                         m_xmp.empty();
        if (!exif && !xmp) continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if (size == 0 || size > MAX_METADATA) continue;
        std::vector<uint8_t> item(size);
        if (heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok) continue;
        if (exif) {
            m_exif = ExifPayload(item);
        } else {
            m_xmp.assign(XMP_ID, XMP_ID + XMP_ID_SIZE);
            m_xmp.insert(m_xmp.end(), item.begin(), item.end());
        }
    }
    if (!m_exif.empty()) m_exifOrientation = ReadOrientationTag(m_exif.data(), m_exif.size()).orientation.Tag();
}

void HeifImage::DecideColour() {
    const auto* handle = static_cast<const heif_image_handle*>(m_handle);
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0 && iccSize <= MAX_METADATA) {
        m_icc.resize(iccSize);
        if (heif_image_handle_get_raw_color_profile(handle, m_icc.data()).code != heif_error_Ok) m_icc.clear();
    }
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok && nclx) {
        m_hasNclx = true;
        m_nclx.primaries = static_cast<uint16_t>(nclx->color_primaries);
        m_nclx.transfer = static_cast<uint16_t>(nclx->transfer_characteristics);
        m_nclx.matrix = static_cast<uint16_t>(nclx->matrix_coefficients);
        m_nclx.fullRange = nclx->full_range_flag != 0;
    }
    // An ICC profile says more than code points; files with both keep the
    // nclx for the codec's matrix.
    if (!m_icc.empty())
        m_sourceProfile = m_icc;
    else if (nclx && !NclxIsSrgb(*nclx))
        m_sourceProfile = NclxProfile(*nclx, m_colourProblem);
    if (nclx) heif_nclx_color_profile_free(nclx);
    if (m_sourceProfile.empty()) return;

    m_colour.Prepare(m_sourceProfile, SourceColour::Rgb, false);
    if (m_colourProblem.empty()) m_colourProblem = m_colour.Problem();
    if (!m_colour.Converts() || m_bitDepth <= 8) return;
    // Deeper pixels keep their precision through the conversion and come
    // down to 8 bits in its last step.
    cmsContext ctx = cmsCreateContext(nullptr, nullptr);
    if (!ctx) return;
    m_lcmsContext = ctx;
    cmsSetLogErrorHandlerTHR(ctx, SilentLcms);
    cmsHPROFILE from = cmsOpenProfileFromMemTHR(ctx, m_sourceProfile.data(),
                                                static_cast<cmsUInt32Number>(m_sourceProfile.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfileTHR(ctx);
    if (from && to)
        m_deepTransform =
            cmsCreateTransformTHR(ctx, from, TYPE_RGB_16, to, TYPE_RGB_8, PHOTO_INTENT, PHOTO_TRANSFORM_FLAGS);
    if (from) cmsCloseProfile(from);
    if (to) cmsCloseProfile(to);
    if (!m_deepTransform) m_colourProblem = "its colours cannot be converted; its colours are taken as sRGB";
}

bool HeifImage::ConvertsColour() const { return m_bitDepth > 8 ? m_deepTransform != nullptr : m_colour.Converts(); }

namespace {

// Kr and Kb of the matrix coefficients a YCbCr image is coded with; false
// for the codings that are not a weighted sum (identity, YCgCo, ICtCp, ...),
// which libheif converts itself.
bool LumaWeights(int matrix, float& kr, float& kb) {
    switch (matrix) {
    case heif_matrix_coefficients_ITU_R_BT_709_5:
        kr = 0.2126f, kb = 0.0722f;
        return true;
    case heif_matrix_coefficients_unspecified:  // libheif's default too
    case heif_matrix_coefficients_ITU_R_BT_470_6_System_B_G:
    case heif_matrix_coefficients_ITU_R_BT_601_6:
        kr = 0.299f, kb = 0.114f;
        return true;
    case heif_matrix_coefficients_US_FCC_T47:
        kr = 0.30f, kb = 0.11f;
        return true;
    case heif_matrix_coefficients_SMPTE_240M:
        kr = 0.212f, kb = 0.087f;
        return true;
    case heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance:
        kr = 0.2627f, kb = 0.0593f;
        return true;
    default:
        return false;
    }
}

heif_error DecodeAs(const heif_image_handle* handle, heif_colorspace space, heif_chroma chroma, heif_image*& image) {
    heif_decoding_options* options = heif_decoding_options_alloc();
    if (options) {
        options->ignore_transformations = 0;
        options->convert_hdr_to_8bit = 0;
    }
    image = nullptr;
    const heif_error e = heif_decode_image(handle, &image, space, chroma, options);
    if (options) heif_decoding_options_free(options);
    if (e.code != heif_error_Ok && image) {
        heif_image_release(image);
        image = nullptr;
    }
    return e;
}

// A row of chroma samples, each for two pixels across (and two rows down),
// as libheif spreads them: scaled, offset and repeated for n pixels.
template <typename In>
void UpsampleChroma(const In* samples, size_t n, float scale, float offset, float* out) {
    for (size_t x = 0; x < n; ++x) out[x] = samples[x >> 1] * scale + offset;
}

// One row of luma and upsampled chroma to R, G, B of 0..outMax. k: luma
// scale and offset, (chroma's, spent already), then Cr to R, Cb and Cr to
// G, Cb to B.
template <typename In, typename Out>
void YccRow(const In* y, const float* u, const float* v, size_t n, const float* k, float outMax, Out* out) {
    for (size_t i = 0; i < n; ++i) {
        const float l = y[i] * k[0] + k[1];
        const float rgb[3] = {l + k[4] * v[i], l + k[5] * u[i] + k[6] * v[i], l + k[7] * u[i]};
        for (int c = 0; c < 3; ++c)
            out[i * 3 + c] = static_cast<Out>(std::min(std::max(rgb[c] * outMax + 0.5f, 0.0f), outMax + 0.49f));
    }
}

}  // namespace

bool HeifImage::Decode(std::string& reason, int threads) {
    ReleasePixels();
    if (!m_handle) {
        reason = "it is not open";
        return false;
    }
    if (!m_hevcDecoderSet) {
        if (threads <= 0) threads = m_limits.decodingThreads;
        if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
        UseThreadedHevcDecoder(static_cast<heif_context*>(m_context), threads);
        m_hevcDecoderSet = true;
    }
    const auto* handle = static_cast<const heif_image_handle*>(m_handle);
    heif_image* image = nullptr;
    heif_error e{};
    // Without alpha, the codec's YCbCr planes come as they are (4:2:0, as
    // phones write them and JPEG keeps them) and are turned into RGB a row
    // at a time here: libheif's own RGB conversion takes longer than the
    // rest of the pipeline and holds a second copy of the picture.
    if (!m_alpha) {
        e = DecodeAs(handle, heif_colorspace_YCbCr, heif_chroma_420, image);
        if (image && SetUpPlanes(image)) return true;
        if (image) heif_image_release(image);
        image = nullptr;
        if (e.code != heif_error_Ok && e.code != heif_error_Unsupported_feature) {
            reason = ReasonOf(e, m_codec, m_limits);
            return false;
        }
    }
    const bool deep = m_bitDepth > 8;
    const heif_chroma chroma = deep ? (m_alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (m_alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    e = DecodeAs(handle, heif_colorspace_RGB, chroma, image);
    if (e.code != heif_error_Ok || !image) {
        reason = e.code == heif_error_Ok ? "it is damaged" : ReasonOf(e, m_codec, m_limits);
        return false;
    }
    m_image = image;
    int stride = 0;
    m_plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int w = heif_image_get_width(image, heif_channel_interleaved);
    const int h = heif_image_get_height(image, heif_channel_interleaved);
    const int range = heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved);
    // The handle promised the size that framing was planned on.
    if (!m_plane || stride <= 0 || w != static_cast<int>(m_width) || h != static_cast<int>(m_height) ||
        (deep && (range <= 8 || range > 16)) || (!deep && range != 8)) {
        ReleasePixels();
        reason = "it is damaged (its decoded image is not the one its file describes)";
        return false;
    }
    m_stride = static_cast<size_t>(stride);
    m_maxValue = (1 << range) - 1;
    m_nextRow = 0;
    if (deep || m_alpha) m_row.resize(size_t{m_width} * 3);
    if (deep) m_deepRow.resize(size_t{m_width} * 3);
    return true;
}

bool HeifImage::SetUpPlanes(void* decoded) {
    auto* image = static_cast<heif_image*>(decoded);
    if (heif_image_get_colorspace(image) != heif_colorspace_YCbCr || heif_image_get_chroma_format(image) != heif_chroma_420)
        return false;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    const int bits = heif_image_get_bits_per_pixel_range(image, heif_channel_Y);
    const bool deep = m_bitDepth > 8;
    if (bits != (deep ? m_bitDepth : 8)) return false;
    for (int c = 0; c < 3; ++c) {
        const uint32_t w = c == 0 ? m_width : (m_width + 1) / 2, h = c == 0 ? m_height : (m_height + 1) / 2;
        int stride = 0;
        m_planes[c] = heif_image_get_plane_readonly(image, channels[c], &stride);
        if (!m_planes[c] || stride <= 0 || heif_image_get_width(image, channels[c]) != static_cast<int>(w) ||
            heif_image_get_height(image, channels[c]) != static_cast<int>(h) ||
            heif_image_get_bits_per_pixel_range(image, channels[c]) != bits)
            return false;
        m_strides[c] = static_cast<size_t>(stride);
    }
    // The coding of the planes as libheif hands them on: the decoded image's
    // nclx, or without one libheif's own YCbCr, BT.601 full range, into
    // which it has converted any other (the file's nclx no longer applies).
    int matrix = heif_matrix_coefficients_ITU_R_BT_601_6;
    bool fullRange = true;
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_get_nclx_color_profile(image, &nclx).code == heif_error_Ok && nclx) {
        matrix = nclx->matrix_coefficients;
        fullRange = nclx->full_range_flag != 0;
        heif_nclx_color_profile_free(nclx);
    }
    float kr = 0, kb = 0;
    if (!LumaWeights(matrix, kr, kb)) return false;
    const float kg = 1 - kr - kb;
    const float max = static_cast<float>((1 << bits) - 1), unit = static_cast<float>(1 << (bits - 8));
    // To luma 0..1 and chroma -0.5..0.5.
    const float yScale = fullRange ? 1 / max : 1 / (219 * unit), cScale = fullRange ? 1 / max : 1 / (224 * unit);
    const float yZero = fullRange ? 0 : 16 * unit, cZero = fullRange ? static_cast<float>(1 << (bits - 1)) : 128 * unit;
    const float k[8] = {yScale, -yZero * yScale, cScale, -cZero * cScale,
                        2 * (1 - kr), -2 * kb * (1 - kb) / kg, -2 * kr * (1 - kr) / kg, 2 * (1 - kb)};
    std::copy(k, k + 8, m_ycc);
    m_image = image;
    m_planar = true;
    m_nextRow = 0;
    m_row.resize(size_t{m_width} * 3);
    m_chroma.resize(size_t{m_width} * 2);  // Cb, Cr
    if (deep && m_deepTransform) m_deepRow.resize(size_t{m_width} * 3);
    return true;
}

void HeifImage::ReleasePixels() {
    if (m_image) heif_image_release(static_cast<heif_image*>(m_image));
    m_image = nullptr;
    m_plane = nullptr;
    m_planar = false;
    m_nextRow = 0;
    m_row = {};
    m_deepRow = {};
    m_chroma = {};
}

void HeifImage::SkipRows(uint32_t n) { m_nextRow = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{m_nextRow} + n, m_height)); }

namespace {

// Over white: straight alpha mixes the colour with white by its opacity; a
// premultiplied colour has that share in it already.
template <typename T>
inline T OverWhite(uint32_t c, uint32_t a, uint32_t max, bool premultiplied) {
    if (premultiplied) return static_cast<T>(std::min<uint32_t>(c + (max - a), max));
    return static_cast<T>((uint64_t{c} * a + uint64_t{max} * (max - a) + max / 2) / max);
}

}  // namespace

template <typename In>
void HeifImage::ChromaRows(uint32_t y) {
    const size_t n = m_width;
    for (int c = 1; c < 3; ++c) {
        const auto* samples = reinterpret_cast<const In*>(m_planes[c] + m_strides[c] * (y / 2));
        UpsampleChroma(samples, n, m_ycc[2], m_ycc[3], m_chroma.data() + (c - 1) * n);
    }
}

const uint8_t* HeifImage::PlanarRow() {
    const uint32_t y = m_nextRow++;
    const size_t n = m_width;
    const uint8_t* luma = m_planes[0] + m_strides[0] * y;
    const float* u = m_chroma.data();
    const float* v = u + n;
    uint8_t* rgb = m_row.data();
    if (m_bitDepth <= 8) {
        ChromaRows<uint8_t>(y);
        YccRow(luma, u, v, n, m_ycc, 255.0f, rgb);
        if (m_colour.Converts()) m_colour.ToSrgb(rgb, rgb, n);
        return rgb;
    }
    ChromaRows<uint16_t>(y);
    const auto* y16 = reinterpret_cast<const uint16_t*>(luma);
    if (!m_deepTransform) {
        // Down to 8 bits in the one rounding of the conversion to RGB.
        YccRow(y16, u, v, n, m_ycc, 255.0f, rgb);
        return rgb;
    }
    uint16_t* deep = m_deepRow.data();
    YccRow(y16, u, v, n, m_ycc, 65535.0f, deep);
    cmsDoTransform(static_cast<cmsHTRANSFORM>(m_deepTransform), deep, rgb, static_cast<cmsUInt32Number>(n));
    return rgb;
}

const uint8_t* HeifImage::NextRow() {
    if (!m_image || m_nextRow >= m_height) return nullptr;
    if (m_planar) return PlanarRow();
    uint8_t* src = m_plane + m_stride * m_nextRow++;
    const size_t n = m_width;
    if (m_bitDepth <= 8) {
        uint8_t* rgb = src;
        if (m_alpha) {
            rgb = m_row.data();
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < 3; ++c)
                    rgb[i * 3 + c] = OverWhite<uint8_t>(src[i * 4 + c], src[i * 4 + 3], 255, m_premultiplied);
        }
        // In place: each row is converted once, as it is handed on.
        if (m_colour.Converts()) m_colour.ToSrgb(rgb, rgb, n);
        return rgb;
    }
    // Little-endian samples of 0..max, brought to 16 bits for the conversion.
    const int channels = m_alpha ? 4 : 3;
    const uint32_t max = static_cast<uint32_t>(m_maxValue);
    uint16_t* deep = m_deepRow.data();
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = src + i * channels * 2;
        const uint32_t a = m_alpha ? std::min<uint32_t>(uint32_t{p[6]} | uint32_t{p[7]} << 8, max) : max;
        for (int c = 0; c < 3; ++c) {
            uint32_t v = std::min<uint32_t>(uint32_t{p[c * 2]} | uint32_t{p[c * 2 + 1]} << 8, max);
            if (m_alpha) v = OverWhite<uint32_t>(v, a, max, m_premultiplied);
            deep[i * 3 + c] = static_cast<uint16_t>((v * 65535u + max / 2) / max);
        }
    }
    uint8_t* rgb = m_row.data();
    if (m_deepTransform) {
        cmsDoTransform(static_cast<cmsHTRANSFORM>(m_deepTransform), deep, rgb, static_cast<cmsUInt32Number>(n));
    } else {
        for (size_t i = 0; i < n * 3; ++i) rgb[i] = static_cast<uint8_t>((uint32_t{deep[i]} * 255u + 32767u) / 65535u);
    }
    return rgb;
}
