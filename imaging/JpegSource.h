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
// file is reported by the caller's own message.
struct JpegErrorTrap {
    jpeg_error_mgr pub;
    std::jmp_buf* target = nullptr;
};

jpeg_error_mgr* InitErrorTrap(JpegErrorTrap& trap, std::jmp_buf* target);

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

// Creates the decoder on file, reads the header, chooses the colour set-up
// and starts decompression. Call it under the jump target of trap: a fatal
// error returns there, and created says whether the decoder must then be
// destroyed. False for component layouts that are not a photograph.
// monitor, when given, hears how far the scans of a multi-scan (progressive)
// file have been read, which jpeg_start_decompress does all at once.
bool StartRgbDecoder(jpeg_decompress_struct& cinfo, JpegErrorTrap& trap, std::jmp_buf* jump, FILE* file,
                     bool& created, SourceColour& colour, jpeg_progress_mgr* monitor = nullptr);

// n pixels of C, M, Y, K to R, G, B.
void CmykToRgb(const JSAMPLE* cmyk, JSAMPLE* rgb, size_t n, bool inverted);
