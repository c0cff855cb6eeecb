// Codec message handlers for the programs built on the decode library: errors collect
// their text and throw codec_failure, warnings go to a stream or are dropped.
#pragma once

#include "codec/core/rvd_message.h"

#include <cstdio>
#include <stdexcept>
#include <string>

class codec_failure : public std::runtime_error {
public:
    explicit codec_failure(const std::string& what) : std::runtime_error(what) {}
};

class throwing_codec_sink : public rvd_message {
public:
    void start_message() override { text.clear(); }
    void put_text(const char* t) override { text += t; }
    void put_text(const char16_t* t) override;
    // Never throws while another exception unwinds.
    void flush(bool end_of_message) override;

private:
    std::string text;
};

// Writes each message to `out`, or drops it when `out` is null.
class printing_codec_sink : public rvd_message {
public:
    explicit printing_codec_sink(std::FILE* out) : out(out) {}
    void put_text(const char* t) override;
    void put_text(const char16_t* t) override;
    void flush(bool end_of_message) override;

private:
    std::FILE* out;
};
