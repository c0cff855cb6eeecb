// 24-bit images as GIF: a mosaic of tiles of at most 17 x 15 pixels, each an 8-bit frame
// whose local palette holds one entry per tile pixel (entry 0 is kept for transparency).
#include "imagelib/RxImageGIF.h"

#include <algorithm>

bool RxImageGIF::EncodeMosaic(RxFile* f)
{
    EncodeHeader(f, false);
    EncodeComment(f);
    const long w = long(GetWidth()), h = long(GetHeight()), kTileW = kMosaicTileW, kTileH = kMosaicTileH;
    const bool transparent = info.nBkgndIndex >= 0;
    RxImageGIF tile; // one object for every tile: its coder tables are large to set up
    for (long top = 0; top < h; top += kTileH)
        for (long left = 0; left < w; left += kTileW) {
            const long tw = std::min(kTileW, w - left), th = std::min(kTileH, h - top);
            if (!tile.Create(DWORD(tw), DWORD(th), 8, RXIMAGE_FORMAT_GIF)) {
                m_encode.writeFailed = true;
                return false;
            }
            RGBQUAD pal[256] = {};
            if (transparent)
                pal[0] = GetTransColor();
            for (long y = 0; y < th; ++y)
                for (long x = 0; x < tw; ++x) {
                    const BYTE entry = BYTE(1 + y * kTileW + x);
                    pal[entry] = GetPixelColor(left + x, h - 1 - (top + y), false);
                    tile.SetPixelIndex(x, th - 1 - y, entry);
                }
            tile.SetPalette(pal, 256);
            tile.SetOffset(left, top);
            tile.SetTransIndex(transparent ? 0 : -1);
            tile.SetFrameDelay(info.dwFrameDelay);
            tile.SetDisposalMethod(m_disposal);
            tile.SetCodecOption(GetCodecOption(RXIMAGE_FORMAT_GIF), RXIMAGE_FORMAT_GIF);
            tile.m_encode.writeFailed = false;
            tile.EncodeExtension(f);
            tile.EncodeBody(f, true);
            m_encode.writeFailed = m_encode.writeFailed || tile.m_encode.writeFailed;
        }
    Put(f, &kTrailer, 1);
    return !m_encode.writeFailed;
}
