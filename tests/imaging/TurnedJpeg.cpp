#include "TurnedJpeg.h"

std::string OrientationTiff(int value, bool bigEndian, uint16_t type) {
    std::string t = bigEndian ? "MM" : "II";
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) t += static_cast<char>(v >> 8 * (bigEndian ? bytes - 1 - i : i));
    };
    put(42, 2);
    put(8, 4);
    put(2, 2);  // entries; ImageDescription first, so the tag is not the first
    put(0x010e, 2);
    put(2, 2);
    put(4, 4);
    t += std::string("abc", 4);
    put(0x0112, 2);
    put(type, 2);
    put(1, 4);
    if (type == 3) {
        put(static_cast<uint32_t>(value), 2);
        put(0, 2);
    } else {
        put(static_cast<uint32_t>(value), 4);
    }
    put(0, 4);  // no next IFD
    return t;
}

std::string WithExif(const std::string& jpeg, const std::string& tiff) {
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    const size_t length = payload.size() + 2;
    const std::string marker = {'\xff', '\xe1', static_cast<char>(length >> 8), static_cast<char>(length & 0xff)};
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
            const int sx[] = {x, x, width - 1 - x, width - 1 - x, x, y, y, width - 1 - y, width - 1 - y};
            const int sy[] = {y, y, y, height - 1 - y, height - 1 - y, x, height - 1 - x, height - 1 - x, x};
            const int t = tag >= 1 && tag <= 8 ? tag : 1;
            for (int c = 0; c < components; ++c)
                out[(static_cast<size_t>(y) * uw + x) * components + c] =
                    pixels[(static_cast<size_t>(sy[t]) * width + sx[t]) * components + c];
        }
    }
    return out;
}
