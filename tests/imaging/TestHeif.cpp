#include "TestHeif.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

bool WriteTestHeif(const HeifRecipe& s, const std::vector<uint8_t>& rgb, const std::string& hostPath) {
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, s.format, &encoder).code != heif_error_Ok) {
        heif_context_free(ctx);
        return false;
    }
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_encoder_set_parameter_string(encoder, "chroma", s.chroma);
    const bool deep = s.bits > 8;
    const heif_chroma chroma = deep ? (s.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (s.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* image = nullptr;
    heif_image_create(s.width, s.height, heif_colorspace_RGB, chroma, &image);
    heif_image_add_plane(image, heif_channel_interleaved, s.width, s.height, s.bits);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int channels = s.alpha ? 4 : 3;
    const int max = (1 << s.bits) - 1;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const uint8_t* p = &rgb[(size_t(y) * s.width + x) * 3];
            const int values[4] = {p[0], p[1], p[2], 255 * x / (s.width - 1)};
            for (int c = 0; c < channels; ++c) {
                const int v = (values[c] * max + 127) / 255;
                if (deep) {
                    plane[size_t(y) * stride + (x * channels + c) * 2] = static_cast<uint8_t>(v);
                    plane[size_t(y) * stride + (x * channels + c) * 2 + 1] = static_cast<uint8_t>(v >> 8);
                } else {
                    plane[size_t(y) * stride + x * channels + c] = static_cast<uint8_t>(v);
                }
            }
        }
    if (!s.icc.empty()) heif_image_set_raw_color_profile(image, "prof", s.icc.data(), s.icc.size());
    heif_color_profile_nclx* nclx = nullptr;
    if (s.nclxPrimaries) {
        nclx = heif_nclx_color_profile_alloc();
        heif_nclx_color_profile_set_color_primaries(nclx, static_cast<uint16_t>(s.nclxPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, static_cast<uint16_t>(s.nclxTransfer));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, static_cast<uint16_t>(s.nclxMatrix));
        nclx->full_range_flag = s.fullRange;
        heif_image_set_nclx_color_profile(image, nclx);
    }
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = s.orientation;
    options->output_nclx_profile = nclx;
    // Else libheif writes no nclx property at all.
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    heif_image_handle* handle = nullptr;
    const heif_error e = heif_context_encode_image(ctx, image, encoder, options, &handle);
    EXPECT_EQ(e.code, heif_error_Ok) << e.message;
    if (!s.exifTiff.empty()) {
        const std::string exif = std::string("Exif\0\0", 6) + s.exifTiff;
        heif_context_add_exif_metadata(ctx, handle, exif.data(), static_cast<int>(exif.size()));
    }
    if (!s.xmp.empty()) heif_context_add_XMP_metadata(ctx, handle, s.xmp.data(), static_cast<int>(s.xmp.size()));
    heif_context_write_to_file(ctx, hostPath.c_str());
    if (handle) heif_image_handle_release(handle);
    heif_encoding_options_free(options);
    if (nclx) heif_nclx_color_profile_free(nclx);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(ctx);
    return e.code == heif_error_Ok;
}

std::vector<uint8_t> PhonePhoto(int width, int height) {
    std::vector<uint8_t> px(size_t(width) * height * 3);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const double grain = static_cast<int>(state >> 28) - 8;
            const double fx = double(x) / width, fy = double(y) / height;
            double rgb[3] = {40 + 190 * fx + 20 * std::sin(y * 0.05), 50 + 170 * fy + 20 * std::sin((x + y) * 0.03),
                             220 - 170 * fx * fy};
            const bool disc = (x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) < height * height / 25;
            for (int c = 0; c < 3; ++c) {
                const double v = rgb[c] * (disc ? 0.5 : 1.0) + grain;
                px[(size_t(y) * width + x) * 3 + c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
            }
        }
    return px;
}
