// Writes the fuzzer's seed corpus: one small photograph for each way of
// coding a JPEG that the decoder treats differently. Argument: the folder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

struct Seed {
    const char* name;
    int width;
    int height;
    J_COLOR_SPACE in;   // JCS_RGB, JCS_GRAYSCALE or JCS_CMYK
    J_COLOR_SPACE out;  // the colour space in the file
    int hSample;        // luma sampling; chroma is 1x1
    int vSample;
    bool progressive = false;
    int restartRows = 0;
    bool arithmetic = false;
    int orientation = 0;  // above 0: an EXIF Orientation tag of this value
};

// Tiny ones for speed, and a few just above the smallest picture the preview
// takes (800 x 600), so that the preview's averaging runs as well.
const Seed SEEDS[] = {
    {"baseline-420-tiny.jpg", 37, 23, JCS_RGB, JCS_YCbCr, 2, 2},
    {"baseline-420.jpg", 808, 608, JCS_RGB, JCS_YCbCr, 2, 2},
    {"baseline-422-tiny.jpg", 19, 9, JCS_RGB, JCS_YCbCr, 2, 1},
    {"baseline-422.jpg", 801, 601, JCS_RGB, JCS_YCbCr, 2, 1},
    {"baseline-444-tiny.jpg", 16, 16, JCS_RGB, JCS_YCbCr, 1, 1},
    {"baseline-440-tiny.jpg", 24, 17, JCS_RGB, JCS_YCbCr, 1, 2},
    {"progressive-tiny.jpg", 33, 21, JCS_RGB, JCS_YCbCr, 2, 2, true},
    {"progressive.jpg", 816, 612, JCS_RGB, JCS_YCbCr, 2, 2, true},
    {"restart-tiny.jpg", 40, 40, JCS_RGB, JCS_YCbCr, 2, 2, false, 1},
    {"restart.jpg", 800, 600, JCS_RGB, JCS_YCbCr, 2, 1, false, 3},
    {"grey-tiny.jpg", 13, 11, JCS_GRAYSCALE, JCS_GRAYSCALE, 1, 1},
    {"grey.jpg", 804, 603, JCS_GRAYSCALE, JCS_GRAYSCALE, 1, 1, true},
    {"cmyk-tiny.jpg", 17, 15, JCS_CMYK, JCS_CMYK, 1, 1},
    {"cmyk.jpg", 810, 600, JCS_CMYK, JCS_CMYK, 1, 1},
    {"ycck-tiny.jpg", 18, 14, JCS_CMYK, JCS_YCCK, 2, 2},
    {"arithmetic-tiny.jpg", 21, 19, JCS_RGB, JCS_YCbCr, 2, 2, false, 0, true},
    {"arithmetic-progressive-tiny.jpg", 22, 18, JCS_RGB, JCS_YCbCr, 2, 1, true, 1, true},
    // Stored on their side: the preview and the export turn them.
    {"orientation-6.jpg", 801, 601, JCS_RGB, JCS_YCbCr, 2, 1, false, 0, false, 6},
    {"orientation-3-tiny.jpg", 37, 23, JCS_RGB, JCS_YCbCr, 2, 2, false, 0, false, 3},
    {"orientation-8-progressive.jpg", 808, 608, JCS_RGB, JCS_YCbCr, 2, 2, true, 0, false, 8},
    {"orientation-7-cmyk-tiny.jpg", 17, 15, JCS_CMYK, JCS_CMYK, 1, 1, false, 0, false, 7},
};

// Smooth gradients with a few hard edges: both kinds of block the coder sees.
uint8_t Sample(int x, int y, int c, int w, int h) {
    const int edge = ((x / 97) ^ (y / 61)) & 1 ? 40 : 0;
    return static_cast<uint8_t>((x * 255 / w + y * 255 / h * (c + 1) / 3 + edge + c * 60) & 0xff);
}

bool Write(const Seed& s, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = static_cast<JDIMENSION>(s.width);
    c.image_height = static_cast<JDIMENSION>(s.height);
    c.input_components = s.in == JCS_GRAYSCALE ? 1 : s.in == JCS_CMYK ? 4 : 3;
    c.in_color_space = s.in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, s.out);
    jpeg_set_quality(&c, 60, TRUE);
    c.comp_info[0].h_samp_factor = s.hSample;
    c.comp_info[0].v_samp_factor = s.vSample;
    for (int i = 1; i < c.num_components; ++i) {
        c.comp_info[i].h_samp_factor = 1;
        c.comp_info[i].v_samp_factor = 1;
    }
    if (s.out == JCS_YCCK) {  // K at full resolution, like the luma
        c.comp_info[3].h_samp_factor = s.hSample;
        c.comp_info[3].v_samp_factor = s.vSample;
    }
    if (s.progressive) jpeg_simple_progression(&c);
    c.restart_in_rows = s.restartRows;
    c.arith_code = s.arithmetic ? TRUE : FALSE;
    jpeg_start_compress(&c, TRUE);
    if (s.orientation > 0) {
        // "Exif\0\0", a little-endian TIFF header and an IFD0 holding only
        // the Orientation (SHORT, one value).
        const JOCTET exif[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0,
                               1, 0, 0, 0, static_cast<JOCTET>(s.orientation), 0, 0, 0, 0, 0, 0, 0};
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<uint8_t> row(static_cast<size_t>(s.width) * c.input_components);
    while (c.next_scanline < c.image_height) {
        const int y = static_cast<int>(c.next_scanline);
        for (int x = 0; x < s.width; ++x)
            for (int k = 0; k < c.input_components; ++k)
                row[static_cast<size_t>(x) * c.input_components + k] = Sample(x, y, k, s.width, s.height);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

std::vector<uint8_t> Read(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    for (const Seed& s : SEEDS) {
        if (!Write(s, folder + "/" + s.name)) {
            std::fprintf(stderr, "cannot write %s\n", s.name);
            return 1;
        }
    }
    // Damaged ones: decoding goes on with substitute data there.
    const std::vector<uint8_t> whole = Read(folder + "/baseline-420.jpg");
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 3));
    std::vector<uint8_t> corrupt = Read(folder + "/progressive-tiny.jpg");
    for (size_t i = corrupt.size() / 2; i < corrupt.size() / 2 + 24 && i + 2 < corrupt.size(); i += 3)
        corrupt[i] ^= 0x5a;
    if (whole.empty() || corrupt.empty() || !Save(folder + "/truncated.jpg", cut) ||
        !Save(folder + "/corrupt-tiny.jpg", corrupt)) {
        std::fprintf(stderr, "cannot write the damaged seeds\n");
        return 1;
    }
    return 0;
}
