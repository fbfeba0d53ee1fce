#pragma once
// Photographs made on the spot for the command-line tests, and a way to look
// at what came out.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

using PixelFn = std::function<Rgb(int x, int y)>;

// A baseline JPEG of w x h pixels at quality 95; false when it cannot be written.
bool WriteTestJpeg(const std::string& hostPath, int w, int h, const PixelFn& pixel);

struct DecodedJpeg {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width x height x 3, top row first
    Rgb At(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
};

// False when the file is not a readable JPEG.
bool DecodeTestJpeg(const std::string& hostPath, DecodedJpeg& out);
