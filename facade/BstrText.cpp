#include "facade/BstrText.h"

std::unique_ptr<char[]> BstrToUtf8(BSTR text)
{
    if (!text)
        return nullptr;
    const int length = int(SysStringLen(text)) + 1;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return nullptr;
    std::unique_ptr<char[]> out(new char[size_t(size)]);
    out[size_t(size) - 1] = 0;
    if (WideCharToMultiByte(CP_UTF8, 0, text, length, out.get(), size, nullptr, nullptr) == 0)
        return nullptr;
    return out;
}

std::string BstrToUtf8String(BSTR text)
{
    const std::unique_ptr<char[]> utf8 = BstrToUtf8(text);
    return utf8 ? std::string(utf8.get()) : std::string();
}
