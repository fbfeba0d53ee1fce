// The command-line tests' photographs, made and read with the image
// pipeline tests' reference encoder and decoder.
#include "TestJpeg.h"

#include <cstdio>

#include "imaging/TestJpeg.h"

bool WriteTestJpeg(const std::string& hostPath, int w, int h, const PixelFn& pixel) {
    std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb p = pixel(x, y);
            uint8_t* out = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            out[0] = p.r;
            out[1] = p.g;
            out[2] = p.b;
        }
    const std::string bytes = EncodePlain(rgb.data(), w, h, 95);
    if (bytes.empty()) return false;
    FILE* f = std::fopen(hostPath.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

bool DecodeTestJpeg(const std::string& hostPath, DecodedJpeg& out) {
    Decoded d = DecodeFully(hostPath, false);
    if (d.width == 0 || d.components != 3) return false;
    out.width = d.width;
    out.height = d.height;
    out.rgb = std::move(d.pixels);
    return true;
}
