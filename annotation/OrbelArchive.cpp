#include "annotation/OrbelArchive.h"

#include "imagelib/RxImage.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

const char kDigits[] = "0123456789abcdef";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string Describe(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F)
        return std::string("'") + c + "'";
    return std::string("byte 0x") + kDigits[u >> 4] + kDigits[u & 15];
}

void PutUint(COrbelArchive& ar, uint64_t v, int size)
{
    for (int i = 0; i < size; ++i)
        ar.PutByte(static_cast<uint8_t>(v >> (8 * i)));
}

uint64_t TakeUint(COrbelArchive& ar, int size)
{
    uint64_t v = 0;
    for (int i = 0; i < size; ++i)
        v |= uint64_t(ar.TakeByte()) << (8 * i);
    return v;
}

} // namespace

uint8_t COrbelArchive::TakeByte()
{
    if (bytes.empty()) {
        underflow = true;
        return 0;
    }
    const uint8_t b = bytes.back();
    bytes.pop_back();
    return b;
}

std::vector<uint8_t> COrbelArchive::TakeBytes(int32_t n)
{
    size_t want = n > 0 ? size_t(n) : 0;
    if (want > bytes.size()) {
        underflow = true;
        want = bytes.size();
    }
    std::vector<uint8_t> out(bytes.rbegin(), bytes.rbegin() + std::ptrdiff_t(want));
    bytes.resize(bytes.size() - want);
    return out;
}

std::string& COrbelArchive::ToHex(COrbelArchive& archive, std::string& out)
{
    out.clear();
    out.reserve(archive.bytes.size() * 2);
    for (auto it = archive.bytes.rbegin(); it != archive.bytes.rend(); ++it) {
        out.push_back(kDigits[*it >> 4]);
        out.push_back(kDigits[*it & 15]);
    }
    archive.bytes.clear();
    return out;
}

bool COrbelArchive::FromHex(const std::string& text, COrbelArchive& archive)
{
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    if (first == last)
        return true;
    archive.bytes.clear();
    archive.underflow = false;
    for (size_t i = first; i < last; ++i)
        if (HexValue(text[i]) < 0) {
            archive.error = "Annotation text: character " + Describe(text[i]) + " at position " +
                            std::to_string(i) + " is not hexadecimal";
            return false;
        }
    archive.error.clear();
    const size_t pairs = (last - first) / 2;
    archive.bytes.resize(pairs);
    // The text holds the last-written byte first, so the first-written byte lands at
    // the back, where reading starts.
    for (size_t i = 0; i < pairs; ++i) {
        const size_t at = first + 2 * i;
        archive.bytes[i] = static_cast<uint8_t>(HexValue(text[at]) << 4 | HexValue(text[at + 1]));
    }
    return true;
}

COrbelArchive& operator<<(COrbelArchive& ar, int value)
{
    PutUint(ar, static_cast<uint32_t>(value), 4);
    return ar;
}

COrbelArchive& operator<<(COrbelArchive& ar, BYTE value)
{
    ar.PutByte(value);
    return ar;
}

COrbelArchive& operator<<(COrbelArchive& ar, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutUint(ar, bits, 8);
    return ar;
}

COrbelArchive& operator<<(COrbelArchive& ar, const CString& value)
{
    ar << static_cast<int>(value.size() * 2);
    for (char16_t unit : value) {
        ar.PutByte(static_cast<uint8_t>(unit & 0xFF));
        ar.PutByte(static_cast<uint8_t>(unit >> 8));
    }
    return ar;
}

COrbelArchive& operator<<(COrbelArchive& ar, RxImage& image)
{
    BYTE* buffer = nullptr;
    long size = 0;
    if (!image.IsValid() || !image.Encode(buffer, size, RXIMAGE_FORMAT_BMP) || size <= 0 || size > 0x7FFFFFFF) {
        std::free(buffer);
        return ar << 0;
    }
    ar << static_cast<int>(size);
    ar.bytes.insert(ar.bytes.end(), buffer, buffer + size);
    std::free(buffer);
    return ar;
}

COrbelArchive& operator>>(COrbelArchive& ar, int& value)
{
    value = static_cast<int>(static_cast<uint32_t>(TakeUint(ar, 4)));
    return ar;
}

COrbelArchive& operator>>(COrbelArchive& ar, BYTE& value)
{
    value = ar.TakeByte();
    return ar;
}

COrbelArchive& operator>>(COrbelArchive& ar, double& value)
{
    const uint64_t bits = TakeUint(ar, 8);
    std::memcpy(&value, &bits, sizeof value);
    return ar;
}

COrbelArchive& operator>>(COrbelArchive& ar, CString& value)
{
    int n = 0;
    ar >> n;
    const std::vector<uint8_t> raw = ar.TakeBytes(n);
    value.assign((raw.size() + 1) / 2, u'\0');
    for (size_t i = 0; i < raw.size(); ++i)
        value[i / 2] = static_cast<char16_t>(value[i / 2] | raw[i] << (i % 2 ? 8 : 0));
    // An embedded zero unit ends the string.
    const size_t end = value.find(u'\0');
    if (end != CString::npos)
        value.resize(end);
    return ar;
}

COrbelArchive& operator>>(COrbelArchive& ar, RxImage& image)
{
    int n = 0;
    ar >> n;
    if (n <= 0)
        return ar;
    const bool whole = size_t(n) <= ar.Remaining();
    std::vector<uint8_t> raw = ar.TakeBytes(n);
    // A cut bitmap is damage, not a picture: decode only what arrived whole.
    if (whole && !raw.empty())
        image.Decode(raw.data(), DWORD(raw.size()), RXIMAGE_FORMAT_BMP);
    return ar;
}
