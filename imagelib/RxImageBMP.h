// Windows bitmap files (image type 1): the format the bitmap stamp stores its picture in.
// Decoder input is untrusted.
#pragma once

#include "imagelib/RxImage.h"

class RxImageBMP : public RxImage {
public:
    RxImageBMP() : RxImage(RXIMAGE_FORMAT_BMP) {}
    ~RxImageBMP() override { Destroy(); }

    bool Encode(RxFile* file);
    bool Decode(RxFile* file);

protected:
    // Reads the information header after the file header and normalises it.
    bool ReadBitmapInfo(RxFile* file, BITMAPINFOHEADER* out);

private:
    void ReadPalette(RxFile* file, const BITMAPINFOHEADER& bih);
    void ReadPixels(RxFile* file, const BITMAPINFOHEADER& bih, long start, DWORD dataOffset);
    void Read16(RxFile* file, const BITMAPINFOHEADER& bih, long start, DWORD dataOffset);
    bool ReadMasks(RxFile* file, DWORD masks[3]);
    void Read32(RxFile* file, const DWORD masks[3]);
};
