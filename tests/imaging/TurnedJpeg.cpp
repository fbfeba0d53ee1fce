#include "TurnedJpeg.h"

#include <stdexcept>

namespace {

void Put16(std::string& b, uint32_t v, bool big) {
    if (big) {
        b += static_cast<char>(v >> 8);
        b += static_cast<char>(v);
    } else {
        b += static_cast<char>(v);
        b += static_cast<char>(v >> 8);
    }
}

void Put32(std::string& b, uint32_t v, bool big) {
    if (big) {
        Put16(b, v >> 16, big);
        Put16(b, v & 0xffff, big);
    } else {
        Put16(b, v & 0xffff, big);
        Put16(b, v >> 16, big);
    }
}

}  // namespace

std::string OrientationTiff(int value, bool bigEndian, uint16_t type) {
    std::string t = bigEndian ? "MM" : "II";
    Put16(t, 42, bigEndian);
    Put32(t, 8, bigEndian);
    Put16(t, 2, bigEndian);  // entries
    // ImageDescription first, so that the tag is not the IFD's first entry.
    Put16(t, 0x010e, bigEndian);
    Put16(t, 2, bigEndian);
    Put32(t, 4, bigEndian);
    t += std::string("abc", 4);
    Put16(t, 0x0112, bigEndian);
    Put16(t, type, bigEndian);
    Put32(t, 1, bigEndian);
    if (type == 3) {
        Put16(t, static_cast<uint32_t>(value), bigEndian);
        Put16(t, 0, bigEndian);
    } else {
        Put32(t, static_cast<uint32_t>(value), bigEndian);
    }
    Put32(t, 0, bigEndian);  // no next IFD
    return t;
}

std::string WithExif(const std::string& jpeg, const std::string& tiff) {
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    const size_t length = payload.size() + 2;
    if (jpeg.size() < 2 || length > 0xffff) throw std::invalid_argument("not a JPEG");
    std::string marker = "\xff\xe1";
    marker += static_cast<char>(length >> 8);
    marker += static_cast<char>(length & 0xff);
    return jpeg.substr(0, 2) + marker + payload + jpeg.substr(2);
}

std::vector<uint8_t> TurnUpright(const std::vector<uint8_t>& pixels, int width, int height, int tag, int components) {
    const bool swap = tag >= 5 && tag <= 8;
    const int uw = swap ? height : width, uh = swap ? width : height;
    std::vector<uint8_t> out(static_cast<size_t>(uw) * uh * components);
    for (int y = 0; y < uh; ++y) {
        for (int x = 0; x < uw; ++x) {
            // Where the upright pixel lies in the stored picture: 2 mirrors
            // left to right, 3 turns by 180 degrees, 4 mirrors top to bottom,
            // 5 mirrors along the main diagonal, 6 is stored turned 90 degrees
            // anticlockwise (its first row is the upright right edge), 7
            // mirrors along the other diagonal, 8 is stored turned clockwise.
            int sx = x, sy = y;
            switch (tag) {
            case 2: sx = width - 1 - x; break;
            case 3: sx = width - 1 - x; sy = height - 1 - y; break;
            case 4: sy = height - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = height - 1 - x; break;
            case 7: sx = width - 1 - y; sy = height - 1 - x; break;
            case 8: sx = width - 1 - y; sy = x; break;
            default: break;
            }
            for (int c = 0; c < components; ++c)
                out[(static_cast<size_t>(y) * uw + x) * components + c] =
                    pixels[(static_cast<size_t>(sy) * width + sx) * components + c];
        }
    }
    return out;
}
