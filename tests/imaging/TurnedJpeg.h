#pragma once
// Photographs stored on their side: an EXIF Orientation tag written into a
// test JPEG, and the upright picture a viewer shows for it.
#include <cstdint>
#include <string>
#include <vector>

// A TIFF record whose first IFD holds an Orientation of this value and type.
std::string OrientationTiff(int value, bool bigEndian = false, uint16_t type = 3);

// The JPEG with an APP1 EXIF marker holding tiff right after its SOI.
std::string WithExif(const std::string& jpeg, const std::string& tiff);

// A stored picture turned upright as the EXIF standard describes each tag.
std::vector<uint8_t> TurnUpright(const std::vector<uint8_t>& pixels, int width, int height, int tag,
                                 int components = 3);
