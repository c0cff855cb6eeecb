#pragma once
// The process-wide stamp selection: the name the page chose and the bytes (a BMP file
// image) read for it from the stamp document. Window thread only.

#include <string>
#include <vector>

extern std::u16string currentStampName;
extern std::vector<unsigned char> currentStampBitmap;
