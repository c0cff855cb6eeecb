// The persisted-property byte form and the memory stream a container hands a control.
#include "platform/PropertyStream.h"

#include <gtest/gtest.h>

#include <random>

using platform::StoredProperty;
using platform::Variant;

namespace {

platform::ComPtr<IStream> streamOf(const std::vector<BYTE>& bytes)
{
    platform::ComPtr<IStream> s;
    EXPECT_EQ(platform::CreateMemoryStream(bytes, s.out()), S_OK);
    return s;
}

std::vector<BYTE> bytesOf(IStream* s)
{
    std::vector<BYTE> out;
    EXPECT_EQ(platform::StreamBytes(s, out), S_OK);
    return out;
}

Variant nullText()
{
    Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = nullptr;
    return v;
}

// Worked by hand from the format: version, count, then name, type and value of each.
const std::vector<BYTE> kFour = {
    0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00,                   // version 1, four properties
    0x01, 0x00, 0x00, 0x00, 0x41, 0x00, 0x0B, 0x00, 0xFF, 0xFF,       // "A" VT_BOOL true
    0x02, 0x00, 0x00, 0x00, 0x57, 0x00, 0x64, 0x00, 0x03, 0x00,       // "Wd" VT_I4
    0xFE, 0xFF, 0xFF, 0xFF,                                           //   -2
    0x01, 0x00, 0x00, 0x00, 0x43, 0x00, 0x08, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, // "C" null text
    0x01, 0x00, 0x00, 0x00, 0x54, 0x00, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, // "T" two units
    0xE9, 0x00, 0x3D, 0xD8,                                           //   U+00E9, a lone high surrogate
};

std::vector<StoredProperty> fourProperties()
{
    Variant yes = Variant::fromBool(true);
    return {{u"A", yes},
            {u"Wd", Variant::fromLong(-2)},
            {u"C", nullText()},
            {u"T", Variant::fromString(std::u16string{char16_t(0xE9), char16_t(0xD83D)})}};
}

} // namespace

TEST(PropertyStream, WritesTheDocumentedBytesAndReadsThemBack)
{
    auto s = streamOf({});
    ASSERT_EQ(platform::WriteProperties(s.get(), fourProperties()), S_OK);
    EXPECT_EQ(bytesOf(s.get()), kFour);
    EXPECT_EQ(platform::PropertiesSize(fourProperties()), kFour.size());

    auto in = streamOf(kFour);
    std::vector<StoredProperty> read;
    ASSERT_EQ(platform::ReadProperties(in.get(), read), S_OK);
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[0].name, u"A");
    EXPECT_EQ(read[0].value.vt, VT_BOOL);
    EXPECT_EQ(read[0].value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(read[1].value.lVal, -2);
    EXPECT_EQ(read[2].value.vt, VT_BSTR);
    EXPECT_EQ(read[2].value.bstrVal, nullptr);
    ASSERT_EQ(SysStringLen(read[3].value.bstrVal), 2u);
    EXPECT_EQ(read[3].value.bstrVal[1], char16_t(0xD83D));
}

TEST(PropertyStream, DamagedBlocksFailWithTheirReasonAndLeaveTheCallersList)
{
    auto patched = [](size_t at, std::vector<BYTE> with) {
        std::vector<BYTE> b = kFour;
        std::copy(with.begin(), with.end(), b.begin() + long(at));
        return b;
    };
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        HRESULT hr;
    };
    const Case cases[] = {
        {"empty stream", {}, STG_E_READFAULT},
        {"another version", patched(0, {0x02}), STG_E_OLDFORMAT},
        {"too many properties", patched(4, {0x00, 0x00, 0x01}), STG_E_INVALIDHEADER},
        {"a name longer than any", patched(8, {0x00, 0x10}), STG_E_INVALIDHEADER},
        {"a type the form has not", patched(14, {0x05}), STG_E_INVALIDHEADER},
        {"a text longer than allowed", patched(52, {0xFF, 0xFF, 0xFF, 0x0F}), STG_E_INVALIDHEADER},
        {"a text longer than the stream", patched(52, {0xFF, 0xFF, 0xFF, 0x00}), STG_E_READFAULT},
        {"one property fewer than counted", std::vector<BYTE>(kFour.begin(), kFour.end() - 16), STG_E_READFAULT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<StoredProperty> kept(1);
        kept[0].name = u"kept";
        auto s = streamOf(c.bytes);
        EXPECT_EQ(platform::ReadProperties(s.get(), kept), c.hr);
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept[0].name, u"kept");
    }
    // Random blocks behind a valid version fail cleanly or read something whole.
    std::mt19937 rnd(11);
    for (int i = 0; i < 2000; ++i) {
        std::vector<BYTE> b = {0x01, 0x00, 0x00, 0x00, BYTE(rnd() % 4), 0x00, 0x00, 0x00};
        size_t n = rnd() % 40;
        for (size_t k = 0; k < n; ++k)
            b.push_back(BYTE(rnd() % 3 == 0 ? 0 : rnd()));
        auto s = streamOf(b);
        std::vector<StoredProperty> read;
        HRESULT hr = platform::ReadProperties(s.get(), read);
        EXPECT_TRUE(hr == S_OK || hr == STG_E_READFAULT || hr == STG_E_INVALIDHEADER) << std::hex << hr;
    }
}

TEST(PropertyStream, WriterRefusesWhatTheFormCannotHold)
{
    auto s = streamOf({});
    EXPECT_EQ(platform::WriteProperties(s.get(), {{u"D", Variant::fromDouble(1.5)}}), E_INVALIDARG);
    EXPECT_EQ(platform::WriteProperties(s.get(), {{std::u16string(300, u'n'), Variant::fromLong(1)}}), E_INVALIDARG);
    EXPECT_TRUE(bytesOf(s.get()).empty());
}

TEST(MemoryStream, ReadsWritesAndSeeksAsAContainerExpects)
{
    auto s = streamOf({1, 2, 3});
    BYTE buf[8] = {};
    ULONG n = 0;
    EXPECT_EQ(s->Read(buf, 2, &n), S_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(s->Read(buf, 8, &n), S_FALSE); // only what is there
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(buf[0], 3);
    ULARGE_INTEGER pos{};
    EXPECT_EQ(s->Seek(LARGE_INTEGER{2}, STREAM_SEEK_END, &pos), S_OK); // past the end: a gap of zeros
    EXPECT_EQ(pos.QuadPart, 5u);
    const BYTE more[] = {9};
    EXPECT_EQ(s->Write(more, 1, &n), S_OK);
    EXPECT_EQ(bytesOf(s.get()), (std::vector<BYTE>{1, 2, 3, 0, 0, 9}));
    EXPECT_EQ(s->Seek(LARGE_INTEGER{-7}, STREAM_SEEK_CUR, &pos), STG_E_SEEKERROR);
    EXPECT_EQ(s->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 6u); // a refused seek keeps the position, as does StreamBytes
    EXPECT_EQ(s->Seek(LARGE_INTEGER{0}, 7, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->SetSize(ULARGE_INTEGER{2}), S_OK);
    EXPECT_EQ(bytesOf(s.get()), (std::vector<BYTE>{1, 2}));
}
