#pragma once
// Cameras store a portrait photograph lying on its side and say in the EXIF
// Orientation tag (1-8) how to turn it upright. Everything outside imaging/
// sees upright pixels only; this is where upright and stored coordinates
// meet.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "platform/WinTypes.h"

// An upright pixel (x, y) is the stored pixel (sx, sy) with
//   transposed: sx = y, sy = x, otherwise sx = x, sy = y,
// then sx mirrored (W - 1 - sx) when mirrorX and sy mirrored when mirrorY,
// W x H being the stored size.
class Orientation {
public:
    Orientation() = default;
    // A tag value; anything outside 1..8 is 1.
    explicit Orientation(int tag);

    int Tag() const { return m_tag; }
    bool IsUpright() const { return m_tag == 1; }
    bool Transposed() const { return m_tag >= 5; }
    bool MirrorX() const { return m_tag == 2 || m_tag == 3 || m_tag == 7 || m_tag == 8; }
    bool MirrorY() const { return m_tag == 3 || m_tag == 4 || m_tag == 6 || m_tag == 7; }

    CSize UprightSize(CSize stored) const;
    // Rectangles, right and bottom exclusive; stored is the stored size.
    CRect ToStored(const CRect& upright, CSize stored) const;
    CRect ToUpright(const CRect& storedRect, CSize stored) const;
    // Where the upright pixel (x, y) lies in the stored picture.
    CPoint StoredPixel(int32_t x, int32_t y, CSize stored) const;

private:
    int m_tag = 1;
};

// What a photograph's EXIF says about its orientation. A missing record or
// tag is upright and fine; a record that cannot be read, or a tag of the
// wrong kind or out of range, is upright and damaged.
struct OrientationTag {
    Orientation orientation;
    bool damaged = false;
};

// payload: an APP1 payload, "Exif\0\0" and the TIFF record.
OrientationTag ReadOrientationTag(const uint8_t* payload, size_t size);

// From the markers a decoder saved (SaveLookMarkers): the first EXIF APP1.
OrientationTag ReadOrientationTag(const jpeg_decompress_struct& cinfo);
