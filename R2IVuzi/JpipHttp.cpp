#include "R2IVuzi/JpipHttp.h"

#include "R2IVuzi/StartupValues.h"

#include <boost/algorithm/string.hpp>
#include <boost/regex.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <cstdlib>
#include <cstring>

bool JpipBuffer::append(const char* bytes, size_t count) noexcept
{
    if (count > m_limit || m_size > m_limit - count)
        return false;
    const size_t need = m_size + count + 1;
    if (need > m_capacity) {
        size_t capacity = std::max(need, m_capacity * 2);
        capacity = std::min(capacity, m_limit + 1);
        char* grown = static_cast<char*>(std::realloc(m_data, capacity));
        if (!grown)
            return false;
        m_data = grown;
        m_capacity = capacity;
    }
    if (count)
        std::memcpy(m_data + m_size, bytes, count);
    m_size += count;
    m_data[m_size] = 0;
    return true;
}

void JpipBuffer::release() noexcept
{
    std::free(m_data);
    m_data = nullptr;
    m_size = m_capacity = 0;
}

extern "C" size_t jpipAppend(char* ptr, size_t size, size_t count, void* userdata)
{
    if (count && size > SIZE_MAX / count)
        return 0;
    const size_t n = size * count;
    return static_cast<JpipBuffer*>(userdata)->append(ptr, n) ? n : 0;
}

std::string jpipHeaderValue(const std::string& block, const std::string& name)
{
    const std::string wanted = boost::to_upper_copy(boost::trim_copy(name));
    std::vector<std::string> lines;
    boost::split(lines, block, boost::is_any_of("\n\t"), boost::token_compress_on);
    for (const std::string& line : lines) {
        if (line.empty())
            continue;
        const size_t colon = line.find(':');
        const std::string field = boost::to_upper_copy(boost::trim_copy(line.substr(0, colon)));
        if (field != wanted)
            continue;
        if (colon == std::string::npos)
            return std::string();
        // The value is the piece up to the next ":", as the line is cut at every one.
        const size_t next = line.find(':', colon + 1);
        return boost::trim_copy(line.substr(colon + 1, next == std::string::npos ? std::string::npos : next - colon - 1));
    }
    return std::string();
}

void jpipParseCnew(const std::string& value, std::string& cid, std::string& path)
{
    static const boost::regex cidToken("(cid=.*)", boost::regex::icase);
    static const boost::regex pathToken("(path=.*)");
    std::vector<std::string> tokens;
    boost::split(tokens, value, boost::is_any_of(","));
    for (const std::string& token : tokens) {
        const size_t eq = token.find('=');
        if (boost::regex_search(token, cidToken))
            cid = token.substr(eq + 1);
        else if (boost::regex_search(token, pathToken))
            path = token.substr(eq + 1);
    }
}

bool jpipIsChunked(const std::string& value) { return boost::to_lower_copy(value) == "chunked"; }

std::string jpipWindowText(const int window[5], int frameW, int frameH)
{
    const int64_t x0 = window[1], y0 = window[2];
    int64_t x1 = window[3], y1 = window[4];
    if (x1 == x0)
        x1 = x0 + 1;
    if (y1 == y0)
        y1 = y0 + 1;
    return "&roff=" + std::to_string(x0) + "," + std::to_string(y0) + "&rsiz=" + std::to_string(x1 - x0 + 1) + "," +
           std::to_string(y1 - y0 + 1) + "&fsiz=" + std::to_string(frameW) + "," + std::to_string(frameH) +
           ",closest";
}

namespace {

int64_t ceilShift(int64_t v, int level)
{
    const int64_t d = int64_t(1) << level;
    return v >= 0 ? (v + d - 1) / d : -((-v) / d);
}

} // namespace

void jpipFrameSize(int64_t x0, int64_t y0, int64_t w, int64_t h, int level, int& frameW, int& frameH)
{
    level = std::max(0, std::min(level, 32));
    frameW = int(ceilShift(x0 + w, level) - ceilShift(x0, level));
    frameH = int(ceilShift(y0 + h, level) - ceilShift(y0, level));
}

JpipCurlHandle::JpipCurlHandle(JpipCurlHandle&& other) noexcept
    : m_curl(other.m_curl), m_headers(other.m_headers), m_cancel(other.m_cancel)
{
    other.m_curl = nullptr;
    other.m_headers = nullptr;
}

JpipCurlHandle& JpipCurlHandle::operator=(JpipCurlHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        std::swap(m_curl, other.m_curl);
        std::swap(m_headers, other.m_headers);
        m_cancel = other.m_cancel;
    }
    return *this;
}

bool JpipCurlHandle::open()
{
    reset();
    m_curl = curl_easy_init();
    if (!m_curl)
        return false;
    curl_slist* list = curl_slist_append(nullptr, "Cache-Control: no-cache");
    curl_slist* more = list ? curl_slist_append(list, "Connection: keep-alive") : nullptr;
    if (!more) {
        curl_slist_free_all(list);
        reset();
        return false;
    }
    m_headers = more;
    curl_easy_setopt(m_curl, CURLOPT_MAXCONNECTS, 1L);
    curl_easy_setopt(m_curl, CURLOPT_USERAGENT, "libcurl-agent/1.0");
    curl_easy_setopt(m_curl, CURLOPT_HTTPHEADER, m_headers);
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &jpipAppend);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &jpipAppend);
    curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, long(g_jpipConnectTimeoutSeconds.load()));
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, long(g_jpipLowSpeedSeconds.load()));
    return true;
}

void JpipCurlHandle::reset() noexcept
{
    if (m_curl)
        curl_easy_cleanup(m_curl);
    curl_slist_free_all(m_headers);
    m_curl = nullptr;
    m_headers = nullptr;
}

namespace {

extern "C" int jpipCancelled(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

} // namespace

CURLcode JpipCurlHandle::perform(const std::string& url, JpipBuffer& headers, JpipBuffer& body)
{
    if (!m_curl)
        return CURLE_BAD_FUNCTION_ARGUMENT;
    headers.release();
    body.release();
    curl_easy_setopt(m_curl, CURLOPT_HEADERFUNCTION, &jpipAppend);
    curl_easy_setopt(m_curl, CURLOPT_WRITEFUNCTION, &jpipAppend);
    curl_easy_setopt(m_curl, CURLOPT_HEADERDATA, &headers);
    curl_easy_setopt(m_curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(m_curl, CURLOPT_URL, url.c_str());
    if (m_cancel) {
        curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &jpipCancelled);
        curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(m_cancel));
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
    } else {
        curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 1L);
    }
    return curl_easy_perform(m_curl);
}

long JpipCurlHandle::responseCode() const
{
    long code = 0;
    if (m_curl)
        curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code);
    return code;
}

namespace {
boost::mutex g_globalLock;
int g_globalCount = 0;
} // namespace

void jpipGlobalInit()
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    if (g_globalCount++ == 0)
        curl_global_init(CURL_GLOBAL_ALL);
}

void jpipGlobalCleanup()
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    if (g_globalCount > 0 && --g_globalCount == 0)
        curl_global_cleanup();
}

int jpipGlobalInitCount()
{
    boost::lock_guard<boost::mutex> lock(g_globalLock);
    return g_globalCount;
}
