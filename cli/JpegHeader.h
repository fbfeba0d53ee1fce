#pragma once
// Reads only a JPEG's header: enough to know the photograph's size (and so
// fit the frame) without decoding it.
#include <string>

struct JpegHeader {
    int width = 0;  // upright, as its EXIF orientation turns it
    int height = 0;
    int storedWidth = 0;  // as the decoder delivers rows at full size
    int storedHeight = 0;
    bool damagedOrientation = false;  // taken as stored
};

// False when the file cannot be opened or is not a readable JPEG; error
// then says why in the library's words.
bool ReadJpegHeader(const std::wstring& devicePath, JpegHeader& header, std::string& error);
