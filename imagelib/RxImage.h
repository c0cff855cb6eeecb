// The raster image of the library: a device-independent bitmap of 1, 4, 8 or 24 bits in one
// C-heap block (a copy of the header, the palette, then the rows bottom-up, each padded to
// 4 bytes), with an optional alpha plane and selection mask, settings and the last error.
// Every codec derives from it. Failures return false or null and leave a text in
// GetLastError(); nothing throws out of the library.
#pragma once

#include "imagelib/RxExport.h"
#include "imagelib/RxFile.h"
#include "platform/Gdi.h"
#include "platform/WinTypes.h"

// Image type numbers; Decode with type 0 tries every format.
enum : DWORD {
    RXIMAGE_FORMAT_UNKNOWN = 0,
    RXIMAGE_FORMAT_BMP = 1,
    RXIMAGE_FORMAT_GIF = 2,
    RXIMAGE_FORMAT_ICO = 3,
    RXIMAGE_FORMAT_TGA = 4,
    RXIMAGE_FORMAT_PCX = 5,
    RXIMAGE_FORMAT_WBMP = 6,
    RXIMAGE_FORMAT_WMF = 7,
    RXIMAGE_FORMATS = 8
};

class RX_EXPORT RxImage {
public:
    explicit RxImage(DWORD type = 0);
    RxImage(DWORD width, DWORD height, DWORD bpp, DWORD type = 0);
    RxImage(const RxImage& src, bool copyPixels = true, bool copySelection = true, bool copyAlpha = true);
    virtual ~RxImage();
    RxImage& operator=(const RxImage& src);

    // Lifetime
    void* Create(DWORD width, DWORD height, DWORD bpp, DWORD type = 0);
    bool Destroy();
    void Copy(const RxImage& src, bool copyPixels = true, bool copySelection = true, bool copyAlpha = true);
    void CopySettings(const RxImage& src);
    bool TakeOver(RxImage& donor);
    // Makes this (codec) object work on src's memory; it then frees nothing.
    void BorrowFrom(RxImage& src);

    // Encoding and decoding
    bool Encode(RxFile* file, DWORD type);
    bool Encode(BYTE*& buffer, long& size, DWORD type);
    bool Decode(RxFile* file, DWORD type);
    bool Decode(BYTE* buffer, DWORD size, DWORD type);

    // Accessors
    DWORD GetWidth() const { return DWORD(head.biWidth); }
    DWORD GetHeight() const { return DWORD(head.biHeight); }
    WORD GetBpp() const { return head.biBitCount; }
    DWORD GetType() const { return info.dwType; }
    DWORD GetEffWidth() const { return info.dwEffWidth; }
    bool IsValid() const { return pDib != nullptr; }
    bool IsIndexed() const { return head.biClrUsed != 0; }
    const char* GetLastError() const { return info.szLastError; }
    DWORD GetSize() const;
    DWORD GetPaletteSize() const { return head.biClrUsed * 4; }
    RGBQUAD* GetPalette() const;
    BYTE* GetBits(DWORD row = 0) const;
    bool IsInside(long x, long y) const;
    void SetOffset(long x, long y);
    DWORD GetCodecOption(DWORD type = 0) const;
    void SetCodecOption(DWORD option, DWORD type = 0);
    long GetTransIndex() const { return info.nBkgndIndex; }
    void SetTransIndex(long index) { info.nBkgndIndex = index; }
    bool IsTransparent() const { return info.nBkgndIndex >= 0; }
    void SetTransColor(RGBQUAD color);
    RGBQUAD GetTransColor() const;
    void SetXDPI(long dpi);
    void SetYDPI(long dpi);
    long GetXDPI() const { return info.xDPI; }
    long GetYDPI() const { return info.yDPI; }
    void SetEscape(long escape) { info.nEscape = escape; }
    void SetFrame(long frame) { info.nFrame = frame; }
    long GetNumFrames() const { return info.nNumFrames; }
    void SetFrameDelay(DWORD delay) { info.dwFrameDelay = delay; }
    DWORD GetFrameDelay() const { return info.dwFrameDelay; }

    // Alpha plane and selection
    bool AlphaIsValid() const { return pAlpha != nullptr; }
    bool AlphaCreate();
    void AlphaDelete();
    void AlphaClear();
    void AlphaSet(long x, long y, BYTE a);
    BYTE AlphaGet(long x, long y) const;
    BYTE* AlphaGetPointer(long x = 0, long y = 0) const;
    void AlphaFlip();
    void AlphaMirror();
    void SelectionDelete();
    bool SelectionIsInside(long x, long y) const;
    bool IsPaletteAlpha() const;

    // Palette and pixels
    RGBQUAD GetPaletteColor(BYTE index) const;
    void SetPaletteColor(BYTE index, BYTE red, BYTE green, BYTE blue, BYTE alpha = 0);
    void SetPaletteColor(BYTE index, RGBQUAD color);
    void SetPalette(const RGBQUAD* colors, DWORD count = 256);
    void SetPalette(DWORD count, const BYTE* red, const BYTE* green = nullptr, const BYTE* blue = nullptr);
    void SetGrayPalette();
    bool IsGrayScale() const;
    BYTE GetPixelIndex(long x, long y) const;
    void SetPixelIndex(long x, long y, BYTE index);
    RGBQUAD GetPixelColor(long x, long y, bool withAlpha = true) const;
    void SetPixelColor(long x, long y, RGBQUAD color, bool setAlpha = false);
    void SetPixelColor(long x, long y, COLORREF color);
    BYTE GetNearestIndex(RGBQUAD color);
    void Clear(BYTE value = 0);
    bool Flip();
    bool Mirror();
    bool Negative();

    // Resampling: the colour at a real point by one of sixteen methods (1 nearest, 2 bilinear,
    // 3-16 convolution kernels) with an edge rule for outside points (1 fixed colour,
    // 2 background, 3 transparent, 4 wrap, 5 clamp, 6 mirror). Needs bitmap memory.
    RGBQUAD SampleInterpolated(float x, float y, long method, long edgeRule, RGBQUAD* replacement = nullptr) const;
    RGBQUAD GetPixelColorEdged(long x, long y, long edgeRule, RGBQUAD* replacement) const;
    void MoveIntoImage(long& x, long& y, long edgeRule) const;
    void MoveIntoImage(float& x, float& y, long edgeRule) const;
    // First-order Bessel function of the first kind (the Bessel kernel's).
    static float BesselJ1(float x);

    // Painting into a device context (1 when painted) and turning by degrees.
    long Draw(HDC dc, long x, long y, long cx = -1, long cy = -1, RECT* clip = nullptr, bool smooth = false);
    long Draw(HDC dc, const RECT& rect, RECT* clip = nullptr, bool smooth = false);
    bool Rotate(float angle, RxImage* destination = nullptr);

protected:
    void InitFields(DWORD type);
    bool CheckEncodeTarget(RxFile* file);
    void SetLastError(const char* text);
    RGBQUAD PixelColorInside(long x, long y) const;

    // Settings copied as a whole by CopySettings, BorrowFrom, TakeOver and Copy.
    struct Info {
        DWORD dwEffWidth;
        DWORD dwType;
        char szLastError[256];
        long nProgress;
        long nEscape;
        long nBkgndIndex;
        RGBQUAD nBkgndColor;
        BYTE nQuality;
        long nFrame;
        long nNumFrames;
        DWORD dwFrameDelay;
        long xDPI;
        long yDPI;
        RECT rSelectionBox;
        BYTE nAlphaMax;
        bool bAlphaPaletteEnabled;
        bool bEnabled;
        long xOffset;
        long yOffset;
        DWORD dwCodecOpt[RXIMAGE_FORMATS];
        RGBQUAD last_c;
        BYTE last_c_index;
        bool last_c_isvalid;
        long nNumLayers;
    };

    void* pDib;              // header copy, palette, pixel rows; null when empty
    BITMAPINFOHEADER head;
    BYTE* pBits;             // bottom row inside pDib
    RxImage* pBorrowedFrom;  // set on codec objects that work on another image's memory
    Info info;
    BYTE* pSelection;
    BYTE* pAlpha;
    RxImage** pLayers;

    friend struct RxTestAccess;
};
