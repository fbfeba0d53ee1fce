#pragma once
// Writing the framed part of a photograph as a new file: decoded and encoded
// again (ExportFrame), or cut from its coefficients (ExportLossless). What
// trimora-cli may ask beyond what the window does: a second core for the
// encoder, and what labs read from the file. With nothing asked, the file is
// the window's, byte for byte.
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/Pipeline.h"

// Lends an export a second thread while a core would otherwise sit idle.
class SpareCores {
public:
    virtual ~SpareCores() = default;
    // True: one core is the caller's until it calls Release.
    virtual bool Claim() = 0;
    virtual void Release() = 0;
};

struct ExportExtras {
    // When set, the encoder moves to a thread of its own as soon as a core
    // is spare; the file stays the same.
    SpareCores* cores = nullptr;
    // Above 0: the JFIF header records this many dots per inch.
    int recordDpi = 0;
    // The source's ICC profile goes along.
    bool keepProfile = false;
    // EXIF (pixel size set to the output's, thumbnail dropped), XMP and the
    // ICC profile go along.
    bool keepMetadata = false;
    // The lossless cut refuses damaged data instead of copying it over.
    // (The decoding export takes this from its PhotoReport.)
    bool strict = false;
    // Receives what was left out and why; may be null.
    std::vector<std::string>* warnings = nullptr;
};

// crop: upright source pixels, right and bottom exclusive, inside the
// photograph; the new file holds them upright and needs no orientation tag.
// tone: 256 output levels the pixels go through, or null for none. Returns 1
// when the destination was written completely; report says why not, and
// what damage was met (report.strict: damage refuses the photograph).
int ExportFrame(SourcePhoto& source, const std::wstring& destinationPath, const CRect& crop, ProgressSink& progress,
                const uint8_t* tone, int quality, const ExportExtras& extras, PhotoReport& report);
// The same for the photograph at sourcePath, opened for it.
int ExportFramedImageWith(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                          ProgressSink& progress, const uint8_t* tone, int quality, const ExportExtras& extras,
                          PhotoReport* report = nullptr);

// The framed part cut from the source's DCT coefficients, nothing decoded or
// encoded again. The frame's left and top move down to the source's iMCU
// grid; its size stays, cut only where it would leave the photograph.
struct LosslessCut {
    CRect written;                  // what the file holds, source pixels
    // How far left and top moved left and up (to 15); negative: right and
    // down, past the partial blocks a turn cannot move.
    int shiftX = 0, shiftY = 0;
    bool clipped = false;           // the size had to shrink
    unsigned long coefficientBytes = 0;  // the transform's coefficient buffer
};

// Returns 1 when the destination was written completely; error says why not.
int ExportLossless(SourcePhoto& source, const std::wstring& destinationPath, const CRect& crop,
                   const ExportExtras& extras, LosslessCut& cut, std::string& error);
int ExportLossless(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                   const ExportExtras& extras, LosslessCut& cut, std::string& error);
