// The byte stream one image's annotations are written into and read back from, and its
// hexadecimal text. Writing appends at the back; reading takes from the back, so reads
// consume the vector back to front. The text reverses the bytes once: a text made from a
// written archive and loaded into a fresh one yields the bytes in the order written.
//
// Texts come from the page and the server, so nothing read is trusted: a read past the
// end yields zeros or a shorter value and sets the underflow flag, lengths are clamped to
// the bytes left, and a text with a character that is not a hexadecimal digit is refused
// with a message in Error().
#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class RxImage;

typedef std::u16string CString;

class COrbelArchive {
public:
    // loading: 0 while storing, 1 while reading.
    explicit COrbelArchive(int loading = 0) : loading(loading) {}
    virtual ~COrbelArchive() = default;

    bool IsLoading() const { return loading != 0; }
    bool IsEmpty() const { return bytes.empty(); }
    size_t Remaining() const { return bytes.size(); }

    // Set by any read that found fewer bytes than it wanted; the reader clears it.
    bool Underflow() const { return underflow; }
    void ClearUnderflow() { underflow = false; }

    // What made a text unreadable, empty when nothing did.
    const std::string& Error() const { return error; }
    void SetError(const std::string& text) { error = text; }

    // Moves the bytes into out as hexadecimal text (last written first, lower case);
    // the archive is empty afterwards.
    static std::string& ToHex(COrbelArchive& archive, std::string& out);
    // Fills the archive from a text. An empty (or all-blank) text leaves it untouched.
    // Surrounding ASCII blanks and an odd last digit are ignored; any other character
    // that is not a hexadecimal digit refuses the text: false, empty archive, Error() set.
    static bool FromHex(const std::string& text, COrbelArchive& archive);

    // Primitive access for the operators below.
    void PutByte(uint8_t b) { bytes.push_back(b); }
    uint8_t TakeByte();
    // Takes up to n bytes (n < 0 counts as 0) in the order a reader meets them.
    std::vector<uint8_t> TakeBytes(int32_t n);

    std::vector<uint8_t> bytes;
    int loading;

private:
    bool underflow = false;
    std::string error;
};

COrbelArchive& operator<<(COrbelArchive& ar, int value);
COrbelArchive& operator<<(COrbelArchive& ar, BYTE value);
COrbelArchive& operator<<(COrbelArchive& ar, double value);
COrbelArchive& operator<<(COrbelArchive& ar, const CString& value);
COrbelArchive& operator<<(COrbelArchive& ar, RxImage& image);

COrbelArchive& operator>>(COrbelArchive& ar, int& value);
COrbelArchive& operator>>(COrbelArchive& ar, BYTE& value);
COrbelArchive& operator>>(COrbelArchive& ar, double& value);
COrbelArchive& operator>>(COrbelArchive& ar, CString& value);
COrbelArchive& operator>>(COrbelArchive& ar, RxImage& image);
