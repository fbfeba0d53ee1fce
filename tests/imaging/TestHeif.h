#pragma once
// HEIF photographs made on the spot by libheif's encoder, for the
// properties heif-enc cannot write (irot/imir, nclx, ICC, 10 bits, alpha).
#include <cstdint>
#include <string>
#include <vector>

#include <libheif/heif.h>

struct HeifRecipe {
    int width = 192, height = 128;  // as stored
    uint32_t seed = 3;
    heif_compression_format format = heif_compression_HEVC;
    int bits = 8;
    bool alpha = false;
    heif_orientation orientation = heif_orientation_normal;
    std::vector<uint8_t> icc;
    int nclxPrimaries = 0;  // 0: no nclx written
    int nclxTransfer = 13;
    int nclxMatrix = 6;
    bool fullRange = true;
    const char* chroma = "444";
    std::string exifTiff;
    std::string xmp;
};

// Writes the stored pixels (8 bits, R, G, B; alpha made from x) with the
// recipe's properties; false when the encoder for its format is missing.
bool WriteTestHeif(const HeifRecipe& s, const std::vector<uint8_t>& rgb, const std::string& hostPath);

// What a phone's photograph is like after its own processing: smooth
// colours, grain in the brightness only (its chroma is denoised), edges in
// brightness. Its chroma survives 4:2:0 with little loss.
std::vector<uint8_t> PhonePhoto(int width, int height);
