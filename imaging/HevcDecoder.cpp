#include "imaging/HevcDecoder.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

namespace {

// libheif's own decoder says 100; the highest wins.
constexpr int PRIORITY = 120;

struct Decoder {
    de265_decoder_context* ctx = nullptr;
    bool strict = false;
};

constexpr heif_error OK = {heif_error_Ok, heif_suberror_Unspecified, "Success"};

heif_error PluginError(heif_suberror_code subcode, const char* message) {
    return {heif_error_Decoder_plugin_error, subcode, message};
}

const char* PluginName() { return "libde265 HEVC decoder, multithreaded"; }

int DoesSupportFormat(heif_compression_format format) { return format == heif_compression_HEVC ? PRIORITY : 0; }

heif_error NewDecoder(void** out, int threads) {
    *out = nullptr;
    auto* decoder = new (std::nothrow) Decoder;
    if (decoder) decoder->ctx = de265_new_decoder();
    if (!decoder || !decoder->ctx) {
        delete decoder;
        return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "the HEVC decoder cannot start"};
    }
    // Should the threads not start, libde265 decodes on the caller's thread.
    de265_start_worker_threads(decoder->ctx, threads);
    *out = decoder;
    return OK;
}

void FreeDecoder(void* raw) {
    auto* decoder = static_cast<Decoder*>(raw);
    if (!decoder) return;
    de265_free_decoder(decoder->ctx);
    delete decoder;
}

void SetStrictDecoding(void* raw, int strict) { static_cast<Decoder*>(raw)->strict = strict != 0; }

// NAL units, each after its size in four bytes (libheif writes the
// parameter sets that way, and the image data comes as stored).
heif_error PushData(void* raw, const void* data, size_t size) {
    auto* decoder = static_cast<Decoder*>(raw);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t at = 0;
    while (at < size) {
        if (size - at < 4) return PluginError(heif_suberror_End_of_data, "insufficient input data");
        const uint32_t length = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                                uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        at += 4;
        if (length > size - at) return PluginError(heif_suberror_End_of_data, "insufficient input data");
        if (length > static_cast<uint32_t>(INT_MAX)) return PluginError(heif_suberror_Unspecified, "a NAL unit too large");
        de265_push_NAL(decoder->ctx, bytes + at, static_cast<int>(length), 0, nullptr);
        at += length;
    }
    return OK;
}

// The picture's colour as its stream says it; libheif puts the file's own
// nclx over it where the file has one. A code point libheif does not know
// is a warning, or in strict decoding an error.
heif_error SetColour(const Decoder& decoder, const de265_image* picture, heif_image* image) {
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (!nclx) return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
    const heif_error set[3] = {
        heif_nclx_color_profile_set_color_primaries(nclx, static_cast<uint16_t>(de265_get_image_colour_primaries(picture))),
        heif_nclx_color_profile_set_transfer_characteristics(
            nclx, static_cast<uint16_t>(de265_get_image_transfer_characteristics(picture))),
        heif_nclx_color_profile_set_matrix_coefficients(
            nclx, static_cast<uint16_t>(de265_get_image_matrix_coefficients(picture)))};
    for (const heif_error& e : set) {
        if (e.code == heif_error_Ok) continue;
        if (decoder.strict) {
            heif_nclx_color_profile_free(nclx);
            return e;
        }
        heif_image_add_decoding_warning(image, e);
    }
    nclx->full_range_flag = de265_get_image_full_range_flag(picture) != 0;
    const heif_error e = heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
    return e;
}

// The decoded planes copied into a libheif image of their own: the picture
// belongs to the decoder, which goes before the image does.
heif_error ToHeifImage(const Decoder& decoder, const de265_image* picture, heif_image** out) {
    const de265_chroma chroma = de265_get_chroma_format(picture);
    const bool mono = chroma == de265_chroma_mono;
    heif_image* image = nullptr;
    // libheif's chroma formats have the same numbers as libde265's.
    heif_error e = heif_image_create(de265_get_image_width(picture, 0), de265_get_image_height(picture, 0),
                                     mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                     static_cast<heif_chroma>(chroma), &image);
    if (e.code != heif_error_Ok) return e;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        const int bits = de265_get_bits_per_pixel(picture, c);
        const int w = de265_get_image_width(picture, c), h = de265_get_image_height(picture, c);
        int stride = 0;
        const uint8_t* from = de265_get_image_plane(picture, c, &stride);
        if (w <= 0 || h <= 0 || bits <= 0 || bits > 16 || !from) {
            heif_image_release(image);
            return PluginError(heif_suberror_Invalid_image_size, "the decoded picture has an impossible plane");
        }
        // The image's own message goes with it; this one stays.
        if (heif_image_add_plane(image, channels[c], w, h, bits).code != heif_error_Ok) {
            heif_image_release(image);
            return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory for the picture"};
        }
        int toStride = 0;
        uint8_t* to = heif_image_get_plane(image, channels[c], &toStride);
        const size_t rowBytes = static_cast<size_t>(w) * ((bits + 7) / 8);
        for (int y = 0; y < h; ++y)
            std::memcpy(to + static_cast<size_t>(y) * toStride, from + static_cast<size_t>(y) * stride, rowBytes);
    }
    e = SetColour(decoder, picture, image);
    if (e.code != heif_error_Ok) {
        heif_image_release(image);
        return e;
    }
    *out = image;
    return OK;
}

heif_error DecodeImage(void* raw, heif_image** out) {
    auto* decoder = static_cast<Decoder*>(raw);
    *out = nullptr;
    de265_flush_data(decoder->ctx);
    int more = 1;
    while (more) {
        more = 0;
        if (de265_decode(decoder->ctx, &more) != DE265_OK) break;
        const de265_image* picture = de265_get_next_picture(decoder->ctx);
        if (!picture) continue;
        // An image item holds one picture; should a stream hold more, the
        // last is the one.
        if (*out) heif_image_release(*out);
        *out = nullptr;
        const heif_error e = ToHeifImage(*decoder, picture, out);
        de265_release_next_picture(decoder->ctx);
        if (e.code != heif_error_Ok) return e;
    }
    if (!*out) return PluginError(heif_suberror_Unspecified, "the HEVC data holds no picture");
    return OK;
}

// libheif hands a new decoder nothing to say how many threads it may
// start: one plugin for each count.
template <int THREADS>
heif_error NewDecoderOn(void** out) {
    return NewDecoder(out, THREADS);
}

template <size_t... I>
constexpr std::array<heif_decoder_plugin, sizeof...(I)> MakePlugins(std::index_sequence<I...>) {
    // Version 3, libheif 1.15's: strict decoding and an id.
    return {{{3, PluginName, nullptr, nullptr, DoesSupportFormat, NewDecoderOn<static_cast<int>(I) + 1>, FreeDecoder,
              PushData, DecodeImage, SetStrictDecoding, "trimora-libde265"}...}};
}

constexpr std::array<heif_decoder_plugin, MAX_HEVC_THREADS> PLUGINS =
    MakePlugins(std::make_index_sequence<MAX_HEVC_THREADS>());

}  // namespace

bool UseThreadedHevcDecoder(heif_context* context, int threads) {
    const heif_decoder_plugin& plugin = PLUGINS[static_cast<size_t>(std::clamp(threads, 1, MAX_HEVC_THREADS) - 1)];
    // Per context, so that each photograph has its own count; libheif calls
    // this way of registering deprecated, but 1.15 has no other.
    return heif_register_decoder(context, &plugin).code == heif_error_Ok;
}
