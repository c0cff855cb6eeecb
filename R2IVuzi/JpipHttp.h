// The HTTP side of the JPIP client: reply buffers and the libcurl append function, the
// reply-header rules, handle set-up, the view-window text and the counted global
// initialisation of libcurl.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// A growing byte buffer that libcurl appends to, always with one zero byte after the
// data. The append refuses (returns 0, so libcurl fails with CURLE_WRITE_ERROR) past
// the buffer's limit or when memory runs out: nothing may be thrown through libcurl.
class JpipBuffer {
public:
    explicit JpipBuffer(size_t limit) : m_limit(limit) {}
    ~JpipBuffer() { release(); }
    JpipBuffer(const JpipBuffer&) = delete;
    JpipBuffer& operator=(const JpipBuffer&) = delete;

    const char* data() const { return m_data ? m_data : ""; }
    size_t size() const { return m_size; }
    // False when the bytes would take the buffer past its limit or memory ran out.
    bool append(const char* bytes, size_t count) noexcept;
    void release() noexcept;

private:
    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
    size_t m_limit;
};

const size_t kJpipHeaderLimit = size_t(64) << 10;
const size_t kJpipBodyLimit = size_t(64) << 20;

// libcurl's header and write function; userdata is a JpipBuffer.
extern "C" size_t jpipAppend(char* ptr, size_t size, size_t count, void* userdata);

// The value of the first header line whose field name matches (upper-cased on both
// sides, blanks around the name ignored); empty when none. Lines are cut at every line
// feed and tab, then at ":".
std::string jpipHeaderValue(const std::string& block, const std::string& name);

// Reads the jpip-cnew value: a token holding "cid=" (any case) gives the channel id,
// else one holding "path=" gives the path; each is the text after the token's first "=".
void jpipParseCnew(const std::string& value, std::string& cid, std::string& path);

// Whether a Transfer-Encoding value is exactly "chunked" in any case.
bool jpipIsChunked(const std::string& value);

// The window text of a region request: window is (level, X0, Y0, X1, Y1) with X1, Y1
// inclusive (a zero-width side is widened to 2 samples); frameW, frameH the whole
// image's size at the window's level.
std::string jpipWindowText(const int window[5], int frameW, int frameH);

// The frame size at a level of an image region (x0, y0, w, h) on the canvas:
// ceil((x0 + w) / 2^level) - ceil(x0 / 2^level), likewise high.
void jpipFrameSize(int64_t x0, int64_t y0, int64_t w, int64_t h, int level, int& frameW, int& frameH);

// An easy handle with its request-header list; both die together.
class JpipCurlHandle {
public:
    JpipCurlHandle() = default;
    ~JpipCurlHandle() { reset(); }
    JpipCurlHandle(JpipCurlHandle&& other) noexcept;
    JpipCurlHandle& operator=(JpipCurlHandle&& other) noexcept;
    JpipCurlHandle(const JpipCurlHandle&) = delete;
    JpipCurlHandle& operator=(const JpipCurlHandle&) = delete;

    // A new handle with the common set-up: one connection, the agent and the two extra
    // headers, no signals, the connect timeout and the low-speed limit. False when
    // libcurl cannot make one.
    bool open();
    void reset() noexcept;
    CURL* get() const { return m_curl; }
    explicit operator bool() const { return m_curl != nullptr; }
    // A transfer ends with CURLE_ABORTED_BY_CALLBACK soon after *flag turns true: libcurl
    // asks at least about once a second, also while a stalled server sends nothing. The
    // flag must outlive the handle; it stays through reset, open and moves.
    void setCancelFlag(const std::atomic<bool>* flag) { m_cancel = flag; }
    const std::atomic<bool>* cancelFlag() const { return m_cancel; }

    // Points header and write functions at the two buffers, sets the URL, performs.
    CURLcode perform(const std::string& url, JpipBuffer& headers, JpipBuffer& body);
    long responseCode() const;

private:
    CURL* m_curl = nullptr;
    curl_slist* m_headers = nullptr;
    const std::atomic<bool>* m_cancel = nullptr;
};

// Counted: the first init initialises libcurl, the last cleanup cleans it up.
void jpipGlobalInit();
void jpipGlobalCleanup();
int jpipGlobalInitCount();
