// Reads JPIP reply bodies (JPP-streams) into an image's data-bin cache and records the
// end-of-response reasons the server gave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class rvd_cache;

struct JpipResponseStatus {
    bool imageDone = false;
    bool windowDone = false;
    bool byteLimitReached = false;
    bool qualityLimitReached = false;
    bool sessionLimitReached = false;
    // The body ended inside a message: its bytes are lost, though the server counts
    // them as sent.
    bool bodyCut = false;
};

class CJpipParser {
public:
    // Parses one whole reply body. A message cut at the end of the body is dropped;
    // a malformed header anywhere raises CJ2KException before anything is stored.
    void parse(rvd_cache* cache, const uint8_t* data, size_t length);
    const JpipResponseStatus& getStatus() const { return m_status; }

private:
    // One pass over the body; a null cache only checks.
    void walk(rvd_cache* cache, const uint8_t* data, size_t length);

    JpipResponseStatus m_status;
};

// What CJ2KRequest::processChunkData does once it has found the loader's parser and the
// image's cache: parses the body and tells whether the server has finished the window.
// Any failure is logged and raised as CJ2KException "error when parse the databin."; the
// parser's own reason goes to *reason when given.
bool processChunkBody(CJpipParser& parser, rvd_cache* cache, const uint8_t* data, size_t size,
                      std::string* reason = nullptr);
