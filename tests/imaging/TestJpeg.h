#pragma once
// Test photographs made on the spot with libjpeg, and plain reference decodes
// and encodes to compare the pipeline with.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ProgressSink.h"

// Rgb: three components coded as R, G, B (cjpeg -rgb), no JFIF header.
enum class Colour { YCbCr, Grey, CmykAdobe, CmykPlain, Ycck, Rgb };

struct JpegRecipe {
    int width = 800;
    int height = 600;
    int hSamp = 2, vSamp = 2;  // luma sampling factors: 2x2 is 4:2:0, 2x1 4:2:2, 1x1 4:4:4
    bool progressive = false;
    int restartRows = 0;
    int quality = 90;
    Colour colour = Colour::YCbCr;
    uint32_t seed = 1;
};

// Photo-like RGB pixels: smooth gradients, texture, noise and hard edges, so
// that every chroma and edge path of the codec is exercised.
std::vector<uint8_t> MakePhoto(int width, int height, uint32_t seed);

std::string EncodeJpeg(const JpegRecipe& recipe);
// The same file with the frame header claiming another size.
std::string WithClaimedSize(std::string jpeg, int width, int height);

// The same file with an ICC profile after its JFIF header, split into APP2
// chunks as libjpeg writes them (chunk bytes per marker: at most 65519).
std::string WithIccProfile(const std::string& jpeg, const std::string& icc, size_t chunk = 65519);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// Runs work in a child process whose files may grow to limit bytes at most
// (past it a write fails with EFBIG, as on a full disk, instead of killing
// the process); the child's exit status, -1 when it did not exit.
int ExitStatusWithFileLimit(long limit, const std::function<int()>& work);

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<uint8_t> pixels;
};
// A plain full decode, rows read one by one with the library's defaults but
// for the output colour space. Gives up (width 0) on a fatal error.
Decoded DecodeFully(const std::string& path, bool cmyk);

// R, G, B the way a viewer shows CMYK: Adobe files hold inverted inks.
std::vector<uint8_t> CmykPixelsToRgb(const std::vector<uint8_t>& cmyk, bool inverted);

// What a plain encoder with jpeg_set_defaults + jpeg_set_quality(q, TRUE)
// writes for these pixels.
std::string EncodePlain(const uint8_t* rgb, int width, int height, int quality);

// The crop of an RGB image, rows without gaps.
std::vector<uint8_t> CropRgb(const std::vector<uint8_t>& rgb, int width, int left, int top, int right, int bottom);

class RecordingSink : public ProgressSink {
public:
    void PumpOneMessage() override { ++pumps; }
    void DrawProgress(int percent) override { percents.push_back(percent); }
    int pumps = 0;
    std::vector<int> percents;
};
