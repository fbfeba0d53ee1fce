#include "TestJpeg.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csetjmp>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <jpeglib.h>

namespace {

struct Trap {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void Quiet(j_common_ptr) {}
[[noreturn]] void Jump(j_common_ptr c) { std::longjmp(reinterpret_cast<Trap*>(c->err)->jump, 1); }

jpeg_error_mgr* InitTrap(Trap& trap) {
    jpeg_std_error(&trap.pub);
    trap.pub.error_exit = Jump;
    trap.pub.output_message = Quiet;
    return &trap.pub;
}

uint8_t Clamp(double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); }

}  // namespace

std::vector<uint8_t> MakePhoto(int width, int height, uint32_t seed) {
    std::vector<uint8_t> px(static_cast<size_t>(width) * height * 3);
    uint32_t state = seed * 2654435761u + 12345u;
    auto noise = [&state]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>(state >> 27) - 16;  // -16..15
    };
    const double phase = (seed % 97) * 0.1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double fx = static_cast<double>(x) / width, fy = static_cast<double>(y) / height;
            double r = 40 + 180 * fx + 30 * std::sin(x * 0.05 + phase);
            double g = 60 + 150 * fy + 25 * std::sin((x + y) * 0.031);
            double b = 200 - 120 * fx * fy + 20 * std::cos(y * 0.07 + phase);
            // A few hard-edged objects: chroma edges are where codecs differ.
            if (((x / 37) + (y / 23)) % 7 == 0) { r = 250; g = 30; b = 40; }
            if ((x - width / 3) * (x - width / 3) + (y - height / 2) * (y - height / 2) < (height / 6) * (height / 6)) {
                r = 20; g = 200; b = 90;
            }
            uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = Clamp(r + noise());
            p[1] = Clamp(g + noise());
            p[2] = Clamp(b + noise());
        }
    }
    return px;
}

std::string EncodeJpeg(const JpegRecipe& recipe) {
    std::vector<uint8_t> rgb = MakePhoto(recipe.width, recipe.height, recipe.seed);
    std::vector<uint8_t> input;
    int components = 3;
    J_COLOR_SPACE inSpace = JCS_RGB;
    switch (recipe.colour) {
    case Colour::YCbCr:
    case Colour::Rgb:
        input = rgb;
        break;
    case Colour::Grey:
        components = 1;
        inSpace = JCS_GRAYSCALE;
        for (size_t i = 0; i < rgb.size(); i += 3) input.push_back(static_cast<uint8_t>((rgb[i] * 3 + rgb[i + 1] * 6 + rgb[i + 2]) / 10));
        break;
    case Colour::CmykAdobe:
    case Colour::CmykPlain:
    case Colour::Ycck: {
        components = 4;
        inSpace = JCS_CMYK;
        const bool inverted = recipe.colour != Colour::CmykPlain;
        for (size_t i = 0; i < rgb.size(); i += 3) {
            // Inks that reflect the same light: (255 - ink) * (255 - k) / 255
            // gives back each channel.
            const int k = (255 - std::max<int>(rgb[i], std::max(rgb[i + 1], rgb[i + 2]))) / 2;
            int ink[4] = {0, 0, 0, k};
            for (int ch = 0; ch < 3; ++ch) ink[ch] = 255 - static_cast<int>(std::lround(rgb[i + ch] * 255.0 / (255 - k)));
            for (int v : ink) input.push_back(static_cast<uint8_t>(inverted ? 255 - v : v));
        }
        break;
    }
    }

    jpeg_compress_struct cinfo{};
    Trap trap;
    cinfo.err = InitTrap(trap);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = recipe.width;
    cinfo.image_height = recipe.height;
    cinfo.input_components = components;
    cinfo.in_color_space = inSpace;
    jpeg_set_defaults(&cinfo);
    if (recipe.colour == Colour::Ycck) jpeg_set_colorspace(&cinfo, JCS_YCCK);
    if (recipe.colour == Colour::Rgb) jpeg_set_colorspace(&cinfo, JCS_RGB);
    if (recipe.colour == Colour::CmykPlain) cinfo.write_Adobe_marker = FALSE;
    jpeg_set_quality(&cinfo, recipe.quality, TRUE);
    if (recipe.colour == Colour::YCbCr || recipe.colour == Colour::Ycck) {
        cinfo.comp_info[0].h_samp_factor = recipe.hSamp;
        cinfo.comp_info[0].v_samp_factor = recipe.vSamp;
    }
    if (recipe.progressive) jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = recipe.restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    const size_t stride = static_cast<size_t>(recipe.width) * components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &input[cinfo.next_scanline * stride];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

std::string WithClaimedSize(std::string jpeg, int width, int height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        const auto m = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && m >= 0xC0 && m <= 0xC2) {
            jpeg[i + 5] = static_cast<char>(height >> 8);
            jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8);
            jpeg[i + 8] = static_cast<char>(width & 0xFF);
            break;
        }
    }
    return jpeg;
}

std::string WithIccProfile(const std::string& jpeg, const std::string& icc, size_t chunk) {
    // After SOI and, when there is one, the APP0 that follows it.
    size_t at = 2;
    if (jpeg.size() > 6 && static_cast<unsigned char>(jpeg[3]) == 0xE0)
        at = 4 + (static_cast<unsigned char>(jpeg[4]) << 8 | static_cast<unsigned char>(jpeg[5]));
    std::string markers;
    const size_t count = (icc.size() + chunk - 1) / chunk;
    for (size_t i = 0; i < count; ++i) {
        const std::string part = icc.substr(i * chunk, chunk);
        const size_t length = 2 + 14 + part.size();
        markers += {'\xFF', '\xE2', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
        markers += std::string("ICC_PROFILE\0", 12) + static_cast<char>(i + 1) + static_cast<char>(count) + part;
    }
    return jpeg.substr(0, at) + markers + jpeg.substr(at);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

namespace {

Decoded DecodeFrom(FILE* file, bool cmyk) {
    Decoded out;
    jpeg_decompress_struct dinfo{};
    Trap trap;
    dinfo.err = InitTrap(trap);
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&dinfo);
        return Decoded{};
    }
    jpeg_create_decompress(&dinfo);
    jpeg_stdio_src(&dinfo, file);
    jpeg_read_header(&dinfo, TRUE);
    dinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&dinfo);
    out.width = static_cast<int>(dinfo.output_width);
    out.height = static_cast<int>(dinfo.output_height);
    out.components = dinfo.output_components;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.components);
    while (dinfo.output_scanline < dinfo.output_height) {
        JSAMPROW row = &out.pixels[static_cast<size_t>(dinfo.output_scanline) * out.width * out.components];
        jpeg_read_scanlines(&dinfo, &row, 1);
    }
    jpeg_abort_decompress(&dinfo);
    jpeg_destroy_decompress(&dinfo);
    return out;
}

}  // namespace

Decoded DecodeFully(const std::string& path, bool cmyk) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return Decoded{};
    Decoded out = DecodeFrom(file, cmyk);
    std::fclose(file);
    return out;
}

std::vector<uint8_t> CmykPixelsToRgb(const std::vector<uint8_t>& cmyk, bool inverted) {
    std::vector<uint8_t> rgb;
    rgb.reserve(cmyk.size() / 4 * 3);
    for (size_t i = 0; i < cmyk.size(); i += 4) {
        for (int ch = 0; ch < 3; ++ch) {
            // Light reflected: what the ink leaves, times what black leaves.
            const int left = inverted ? cmyk[i + ch] : 255 - cmyk[i + ch];
            const int black = inverted ? cmyk[i + 3] : 255 - cmyk[i + 3];
            rgb.push_back(static_cast<uint8_t>((left * black + 127) / 255));
        }
    }
    return rgb;
}

std::string EncodePlain(const uint8_t* rgb, int width, int height, int quality) {
    jpeg_compress_struct cinfo{};
    Trap trap;
    cinfo.err = InitTrap(trap);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + static_cast<size_t>(cinfo.next_scanline) * width * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return bytes;
}

std::vector<uint8_t> CropRgb(const std::vector<uint8_t>& rgb, int width, int left, int top, int right, int bottom) {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(right - left) * (bottom - top) * 3);
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = &rgb[(static_cast<size_t>(y) * width + left) * 3];
        out.insert(out.end(), row, row + static_cast<size_t>(right - left) * 3);
    }
    return out;
}

int ExitStatusWithFileLimit(long limit, const std::function<int()>& work) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit lim{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        setrlimit(RLIMIT_FSIZE, &lim);
        _exit(work());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
