// GIF87a/GIF89a files (image type 2): frames composed onto the logical screen, written as
// GIF89a from 1-, 4- and 8-bit images with one of three code writers (codec option 0 LZW,
// 1 uncompressed codes, 2 a run-length code any LZW decoder reads) and from 24-bit images
// as a mosaic of 17 x 15 tiles with their own palettes. Decoder input is untrusted.
#pragma once

#include "imagelib/CImageIterator.h"
#include "imagelib/RxImage.h"

class RxImageGIF : public RxImage {
public:
    RxImageGIF();
    ~RxImageGIF() override { Destroy(); }

    bool Decode(RxFile* file);
    bool Encode(RxFile* file);

    void SetComment(const char* text);
    const char* GetComment() const { return m_comment; }
    void SetDisposalMethod(int method) { m_dispmeth = method; }
    int GetDisposalMethod() const { return m_dispmeth; }
    long GetLoops() const { return m_loops; }

protected:
    enum { GIFBUFTAM = 16383, HSIZE = 5003, MAXCODES = 4096 };
    enum { GIF_BAD_CODE_SIZE = -20, GIF_OUT_OF_MEMORY = -10 };
    enum { MOSAIC_TILE_W = 17, MOSAIC_TILE_H = 15 }; // 255 pixels: one palette entry each, one kept

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
    static bool StartsMosaic(const Frame& first, long screenW, long screenH);
    bool PrepareScreen(Screen& screen, const Frame& prev, int prevDisposal, const RGBQUAD* table, int colours,
                       int depth);
    bool ToTrueColour(Screen& screen, BYTE fillIndex);
    void RestoreScreen(const RxImage& saved);
    void Deepen(int depth);
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
        if (CountDown <= 0)
            return -1;
        --CountDown;
        const BYTE* row = pBits + size_t(info.dwEffWidth) * size_t(cury);
        int r;
        switch (head.biBitCount) {
        case 8: r = row[curx]; break;
        case 4: r = (curx & 1) ? row[curx >> 1] & 0x0F : row[curx >> 1] >> 4; break;
        default: r = (row[curx >> 3] >> (7 - (curx & 7))) & 1; break;
        }
        if (++curx == long(head.biWidth)) {
            curx = 0;
            --cury;
        }
        return r;
    }
    void Compose(RxImage& frame, long left, long top, long frameTrans, long screenH);
    void Compress(int initBits, RxFile* f);
    void CompressNone(int initBits, RxFile* f);
    void CompressRle(int initBits, RxFile* f);
    void Output(int code);
    void ClearHash();
    void CharOut(int c);
    void FlushChar();

    // Graphic-control block
    struct {
        BYTE flags;
        WORD delaytime;
        BYTE transpcolindex;
    } gifgce;

    // Encoder pixel reader
    long curx, cury, CountDown;
    // Code output
    unsigned long cur_accum;
    int cur_bits;
    // Interlace and line writer state
    int interlaced, iypos, istep, iheight, ipass;
    long outRow; // stored row the next line goes to; -1 once the frame is full
    // Read-ahead
    long ibf, ibfmax;
    BYTE buf[GIFBUFTAM + 1];
    // LZW decoder
    int curr_size, clear, ending, newcodes, top_slot, slot, navail_bytes, nbits_left;
    BYTE b1;
    BYTE byte_buff[257];
    BYTE* pbytes;
    BYTE stack[MAXCODES];
    BYTE suffix[MAXCODES];
    WORD prefix[MAXCODES];
    // LZW encoder
    long htab[HSIZE];
    WORD codetab[HSIZE];
    int n_bits, maxcode, free_ent, clear_flg, g_init_bits;
    RxFile* g_outfile;
    int ClearCode, EOFCode;
    int a_count;
    BYTE accum[256];
    bool m_writeFailed;

    char m_comment[256];
    long m_loops;
    int m_dispmeth;
};
