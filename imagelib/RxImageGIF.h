// GIF87a/GIF89a files (image type 2): frames composed onto the logical screen, written as
// GIF89a from 1-, 4- and 8-bit images with one of three code writers (codec option 0 LZW,
// 1 uncompressed codes, 2 a run-length code any LZW decoder reads) and from 24-bit images
// as a mosaic of 17 x 15 tiles with their own palettes. Decoder input is untrusted.
#pragma once

#include "imagelib/CImageIterator.h"
#include "imagelib/RxImage.h"

class RxImageGIF : public RxImage {
public:
    RxImageGIF() : RxImage(RXIMAGE_FORMAT_GIF) {}
    ~RxImageGIF() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);

    void SetComment(const char* text);
    const char* GetComment() const { return m_comment; }
    void SetDisposalMethod(int method) { m_disposal = method; }
    int GetDisposalMethod() const { return m_disposal; }
    long GetLoops() const { return m_loops; }

protected:
    enum { kReadAhead = 16383, kHashSize = 5003, kMaxCodes = 4096 };
    enum { kBadCodeSize = -20, kOutOfMemory = -10 }; // results of DecodeLzw
    enum { kMosaicTileW = 17, kMosaicTileH = 15 }; // 255 pixels: one palette entry each, one kept

    // The bytes that open the stream's blocks, and the labels of the extensions read.
    static constexpr BYTE kExtensionIntroducer = 0x21;
    static constexpr BYTE kImageSeparator = 0x2C;
    static constexpr BYTE kTrailer = 0x3B;
    static constexpr BYTE kGraphicControlLabel = 0xF9;
    static constexpr BYTE kCommentLabel = 0xFE;
    static constexpr BYTE kApplicationLabel = 0xFF;

    struct Frame {
        long left, top, width, height;
        BYTE flags;
    };
    // What the decoder keeps about the screen between frames.
    struct Screen {
        long width = 0, height = 0;
        long transparent = -1; // the first frame's transparent index
        BYTE clearIndex = 0;    // what the screen starts as
        RGBQUAD fill{};         // disposal 2's colour once the screen is 24-bit
        RxImage saved;          // the screen before a frame of disposal 3
    };

    // Reading
    int GetByte(RxFile* f);
    int GetNextCode(RxFile* f);
    int DecodeLzw(RxFile* f, RxImage* target, long lineWidth, int& badCodes);
    int OutLine(RxImage* target, BYTE* pixels, long length);
    bool DecodeExtension(RxFile* f);
    bool ReadFrame(RxFile* f, Frame& frame, RGBQUAD* table, int& colours);
    void AfterFrame(RxFile* f, long dataStart, int badCodes);
    void SkipToZero(RxFile* f);
    long CountFrames(RxFile* f, long screenW, long screenH);
    void StartInterlace(const Frame& frame);
    bool Refuse(const char* text);
    bool Stop(const char* why);
    static bool StartsMosaic(const Frame& first, long screenW, long screenH);
    bool PrepareScreen(Screen& screen, const Frame& prev, int prevDisposal, const RGBQUAD* table, int colours,
                       int depth);
    bool ToTrueColour(Screen& screen, BYTE fillIndex);
    void RestoreScreen(const RxImage& saved);
    bool Deepen(int depth);
    void FillRect(const Frame& frame, BYTE index, const Screen& screen);

    // Writing
    void Put(RxFile* f, const void* data, size_t size);
    void Put16(RxFile* f, long value);
    void EncodeHeader(RxFile* f, bool globalTable);
    void PutTable(RxFile* f);
    void EncodeExtension(RxFile* f);
    void EncodeComment(RxFile* f);
    void EncodeBody(RxFile* f, bool localTable);
    bool EncodeMosaic(RxFile* f);
    // The encoder's pixel reader: top row first, left to right; -1 after the last pixel.
    int NextPixel()
    {
        EncodeState& e = m_encode;
        if (e.pixelsLeft <= 0)
            return -1;
        --e.pixelsLeft;
        const BYTE* row = pBits + size_t(info.dwEffWidth) * size_t(e.row);
        const long x = e.column;
        int r;
        switch (head.biBitCount) {
        case 8: r = row[x]; break;
        case 4: r = (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4; break;
        default: r = (row[x >> 3] >> (7 - (x & 7))) & 1; break;
        }
        if (++e.column == long(head.biWidth)) {
            e.column = 0;
            --e.row;
        }
        return r;
    }
    void Compose(RxImage& frame, long left, long top, long frameTrans, long screenH);
    void Compress(int initBits, RxFile* f);
    void CompressNone(int initBits, RxFile* f);
    void CompressRle(int initBits, RxFile* f);
    void StartOutput(int initBits, RxFile* f);
    void Output(int code);
    void ClearHash();
    void CharOut(int c);
    void FlushChar();

    // What reading keeps: the last graphic control, the read-ahead, and for the frame being
    // decoded the code reader, the LZW tables and the line writer's place.
    struct DecodeState {
        struct GraphicControl {
            BYTE flags = 0;
            WORD delay = 0;
            BYTE transparent = 0;
        } gce;
        // Read-ahead
        long readPos = kReadAhead, readFill = 0;
        BYTE readAhead[kReadAhead + 1] = {};
        // Code reader: the current data sub-block and the bits of its current byte
        int codeSize = 0, blockLeft = 0, bitsLeft = 0;
        BYTE codeByte = 0;
        BYTE block[257] = {};
        BYTE* blockPos = block;
        // LZW tables
        int clearCode = 0, endCode = 0, firstFree = 0, nextFree = 0, topSlot = 0;
        BYTE stack[kMaxCodes] = {};
        BYTE suffix[kMaxCodes] = {};
        WORD prefix[kMaxCodes] = {};
        // Line writer: interlace passes and the stored row the next line goes to (-1 once
        // the frame is full)
        bool interlaced = false;
        int rowPos = 0, rowStep = 0, height = 0, pass = 0;
        long outRow = -1;
        // Why the last walk through the stream stopped before its trailer, if it did
        const char* stopped = nullptr;
    };
    // What writing keeps: the pixel reader, the code output and its packet, the LZW hash.
    struct EncodeState {
        // Pixel reader
        long column = 0, row = 0, pixelsLeft = 0;
        // Code output
        unsigned long accum = 0;
        int accumBits = 0;
        int bits = 0, maxCode = 0, freeCode = 0, initBits = 0, clearCode = 0, endCode = 0;
        bool clearPending = false;
        RxFile* out = nullptr;
        int packetLength = 0;
        BYTE packet[256] = {};
        // LZW hash
        long hashKeys[kHashSize] = {};
        WORD hashCodes[kHashSize] = {};
        bool writeFailed = false;
    };

    DecodeState m_decode;
    EncodeState m_encode;
    char m_comment[256] = {};
    long m_loops = 0;
    int m_disposal = 0;
};
