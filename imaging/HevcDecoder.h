#pragma once
// The HEVC decoder HEIC photographs are decoded with: libde265, as in
// libheif's own decoder, but with as many worker threads as the photograph
// may use. libheif 1.15 starts one; HEIC encoders (x265, as heif-enc runs
// it) write wavefront-parallel streams, whose rows of blocks libde265
// decodes side by side. Same library, same stream: the same pixels.
struct heif_context;

// The most threads one picture is given: libde265 decodes a wavefront row
// of 64-pixel blocks per thread, and a phone photograph has fewer than 60.
inline constexpr int MAX_HEVC_THREADS = 16;

// Has libheif decode the HEVC pictures of this context (a grid image's
// tiles each) with libde265 on this many threads, ahead of its own decoder.
// Once per context (of two, libheif would pick either). False when libheif
// refused it; its own decoder is used then.
bool UseThreadedHevcDecoder(heif_context* context, int threads);
