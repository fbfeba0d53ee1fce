#include "TestJpeg.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {
struct Trap {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};
void Exit(j_common_ptr c) { std::longjmp(reinterpret_cast<Trap*>(c->err)->jump, 1); }
void Quiet(j_common_ptr) {}
}  // namespace

bool WriteTestJpeg(const std::string& hostPath, int w, int h, const PixelFn& pixel) {
    FILE* f = std::fopen(hostPath.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    Trap trap;
    c.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = Exit;
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&c);
        std::fclose(f);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb p = pixel(x, y);
            row[x * 3] = p.r;
            row[x * 3 + 1] = p.g;
            row[x * 3 + 2] = p.b;
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

bool DecodeTestJpeg(const std::string& hostPath, DecodedJpeg& out) {
    FILE* f = std::fopen(hostPath.c_str(), "rb");
    if (!f) return false;
    jpeg_decompress_struct d;
    Trap trap;
    d.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = Exit;
    trap.mgr.output_message = Quiet;
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    out.width = static_cast<int>(d.output_width);
    out.height = static_cast<int>(d.output_height);
    out.rgb.assign(static_cast<size_t>(out.width) * out.height * 3, 0);
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = out.rgb.data() + static_cast<size_t>(d.output_scanline) * out.width * 3;
        jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    return true;
}
