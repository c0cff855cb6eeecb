#include "R2IVuzi/JpipParser.h"

#include "R2IVuzi/J2KException.h"
#include "codec/jp2/rvd_cache.h"
#include "diagnostics/Logging.h"

#include <exception>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\JpipParser")

namespace {

const char kIllegalHeader[] = "Received a JPIP stream message containing an illegal header or one which "
                              "contains a ridiculously large parameter.";
const int64_t kMax31 = 0x7FFFFFFF;
const int64_t kMax63 = INT64_MAX;

class Cursor {
public:
    Cursor(const uint8_t* d, size_t n) : data(d), end(d + n) {}
    bool byte(uint8_t& b)
    {
        if (data == end)
            return false;
        b = *data++;
        return true;
    }
    // A VBAS no larger than limit; false when the body ends inside it.
    bool vbas(int64_t& value, int64_t limit)
    {
        value = 0;
        uint8_t b;
        do {
            if (!byte(b))
                return false;
            if (value > (limit >> 7))
                ORBEL_THROW_AT(CJ2KException, 276, kIllegalHeader, "");
            value = (value << 7) | (b & 0x7F);
            if (value > limit)
                ORBEL_THROW_AT(CJ2KException, 276, kIllegalHeader, "");
        } while (b & 0x80);
        return true;
    }
    size_t left() const { return size_t(end - data); }
    const uint8_t* here() const { return data; }
    void skip(size_t n) { data += n; }

private:
    const uint8_t* data;
    const uint8_t* end;
};

} // namespace

void CJpipParser::parse(rvd_cache* cache, const uint8_t* data, size_t length)
{
    // A body is checked whole before any of it reaches the cache: a refused body leaves
    // nothing behind for the decoder to show.
    walk(nullptr, data, length);
    walk(cache, data, length);
}

void CJpipParser::walk(rvd_cache* cache, const uint8_t* data, size_t length)
{
    m_status = JpipResponseStatus();
    Cursor in(data, length);
    auto cut = [this] { m_status.bodyCut = true; };
    int64_t classId = 0, codestream = 0;
    while (in.left() > 0) {
        uint8_t b;
        in.byte(b);
        const bool complete = (b & 0x10) != 0;
        int64_t msgClass = classId, msgCodestream = codestream, binId = 0, offset = 0, msgLength = 0;
        int eorReason = -1;
        if (b == 0) {
            uint8_t reason;
            if (!in.byte(reason))
                return cut();
            eorReason = reason;
        } else {
            const int form = (b >> 5) & 3;
            if (form == 0)
                ORBEL_THROW_AT(CJ2KException, 107, "Invalid Bin-ID.", "");
            binId = b & 0x0F;
            uint8_t last = b;
            while (last & 0x80) {
                if (!in.byte(last))
                    return cut();
                if (binId > (kMax63 >> 7))
                    ORBEL_THROW_AT(CJ2KException, 276, kIllegalHeader, "");
                binId = (binId << 7) | (last & 0x7F);
            }
            if (form >= 2 && !in.vbas(msgClass, kMax31))
                return cut();
            if (form == 3 && !in.vbas(msgCodestream, kMax63))
                return cut();
            if (!in.vbas(offset, kMax31))
                return cut();
        }
        if (!in.vbas(msgLength, kMax31))
            return cut();
        if (eorReason < 0) {
            if (offset + msgLength > kMax31)
                ORBEL_THROW_AT(CJ2KException, 276, kIllegalHeader, "");
            if (msgClass & 1) {
                int64_t aux;
                if (!in.vbas(aux, kMax63))
                    return cut();
            }
            if (msgClass / 2 == RVD_MAIN_HEADER_DATABIN && binId != 0)
                ORBEL_THROW_AT(CJ2KException, 276, kIllegalHeader, "");
        }
        if (in.left() < size_t(msgLength))
            return cut();
        if (eorReason >= 0) {
            in.skip(size_t(msgLength));
            switch (eorReason) {
            case 1:
                m_status.imageDone = true;
                m_status.windowDone = true;
                break;
            case 2:
                m_status.windowDone = true;
                break;
            case 4:
                m_status.byteLimitReached = true;
                break;
            case 5:
                m_status.qualityLimitReached = true;
                break;
            case 6:
                m_status.sessionLimitReached = true;
                break;
            default:
                break;
            }
            continue;
        }
        if (!cache) {
            in.skip(size_t(msgLength));
            classId = msgClass;
            codestream = msgCodestream;
            continue;
        }
        try {
            cache->add_to_databin(int(msgClass / 2), msgCodestream, binId, in.here(), int(offset),
                                  int(msgLength), complete, true, false);
        } catch (const std::exception&) {
            ORBEL_LOG_AT(INFO, 323) << "Exception happened in parse";
            ORBEL_THROW_AT(CJ2KException, 325, "Parse error.", "");
        }
        in.skip(size_t(msgLength));
        classId = msgClass;
        codestream = msgCodestream;
    }
}
