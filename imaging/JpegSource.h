#pragma once
// What the preview decoder and the export share: an error manager that gives
// control back instead of ending the program, and the colour set-up that
// makes every photograph arrive as three bytes per pixel, R, G, B.
#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

// The library's standard error manager followed by the place a fatal error
// returns to. Nothing is ever printed: this is a GUI program, and a damaged
// file is reported by the caller's own message. What went wrong is kept for
// callers that say more.
struct JpegErrorTrap {
    jpeg_error_mgr pub;
    std::jmp_buf* target = nullptr;

    // A fatal error: errno at that moment (the cause of a write error), the
    // message's code and text.
    bool failed = false;
    int savedErrno = 0;
    int code = 0;
    char text[JMSG_LENGTH_MAX] = {};

    // Warnings about damaged data, which the library patches up with grey:
    // how many, and the first one's text. With strict set (by the caller,
    // before InitErrorTrap) the first one is fatal instead.
    bool strict = false;
    bool refusedDamage = false;
    int damage = 0;
    char firstDamage[JMSG_LENGTH_MAX] = {};
};

jpeg_error_mgr* InitErrorTrap(JpegErrorTrap& trap, std::jmp_buf* target);

struct PhotoReport;

// For a decoder that stopped before its photograph was done: why, from its
// trap (or, with no fatal error there, because the component layout is not
// a photograph's). Also copies the damage tally.
void ReportDecoderFailure(const JpegErrorTrap& trap, const jpeg_decompress_struct& cinfo, PhotoReport& report);

// The damage tally alone, for a decoder that got through.
void ReportDamage(const JpegErrorTrap& trap, PhotoReport& report);

// What the decoder may allocate. Progressive files need their whole
// coefficient image in memory (about 72 MiB at 24 MP); a header that claims
// a gigantic progressive picture must fail as a damaged file does, not make
// the program zero-fill gigabytes.
constexpr long MAX_DECODER_MEMORY = 1L << 30;

// How the decoder's rows must be read to get R, G, B.
enum class SourceColour {
    Rgb,           // the library delivers R, G, B (colour photographs, greyscale)
    Cmyk,          // four bytes of ink per pixel, 0 = no ink
    CmykInverted,  // Adobe's way: four bytes per pixel, 255 = no ink
};

// Call after jpeg_read_header. Sets the output colour space and tells how to
// read the rows; false for component layouts that are not a photograph.
bool SelectRgbOutput(jpeg_decompress_struct& cinfo, SourceColour& colour);

// Call before jpeg_read_header: keeps the markers that say how the pixels
// are meant to be shown, EXIF (APP1, with its Orientation) and the ICC
// profile (APP2). Keeping them changes no pixel.
void SaveLookMarkers(jpeg_decompress_struct& cinfo);

// n pixels of C, M, Y, K to R, G, B.
void CmykToRgb(const JSAMPLE* cmyk, JSAMPLE* rgb, size_t n, bool inverted);
