// Buffered input of compressed bytes with putback and in-packet marker detection. Every
// byte of an input codestream reaches the codestream core through an rv_input.
#pragma once

#include <cstdint>

struct rv_buffer;
class rv_buffer_server;

// A marker met inside packet data while detection is on; the input is left positioned at
// its 0xFF. Caught by the packet reader.
struct rv_marker_exception {
    uint16_t code;
};

enum : int {
    RV_INPUT_PUTBACK = 6,   // putback margin in front of the data area
    RV_INPUT_DATA = 512     // bytes fetched per refill
};

class rv_input {
public:
    rv_input() : first_unread(data_start()), first_unwritten(data_start()) {}
    virtual ~rv_input() {}
    rv_input(const rv_input&) = delete;
    rv_input& operator=(const rv_input&) = delete;

    // Skips up to count bytes; returns the number skipped.
    virtual int64_t ignore(int64_t count);

    // The hot path: one byte, marker detection costing a single flag test.
    bool get(uint8_t& byte)
    {
        if (exhausted)
            return false;
        if (first_unread == first_unwritten && !refill())
            return false;
        byte = *first_unread++;
        if (throw_markers)
            examine(byte);
        return true;
    }
    // Pushes back two bytes (a marker code or a length), high byte first.
    void putback(uint16_t code)
    {
        first_unread -= 2;
        if (!fully_buffered) {
            first_unread[0] = uint8_t(code >> 8);
            first_unread[1] = uint8_t(code);
        }
    }
    void putback_byte(uint8_t byte)
    {
        first_unread--;
        if (!fully_buffered)
            *first_unread = byte;
    }
    int read(uint8_t* buf, int count);
    // Copies up to count bytes onto a chain of server buffers; buf and pos (0..58) are
    // the current write buffer and its next free payload byte, updated for the next call.
    int read_to_chain(rv_buffer*& buf, int& pos, rv_buffer_server* server, int count);
    // Hands out the next count bytes in place (ptr); while detection is on they are read
    // into scratch, which must hold count bytes. Returns the number available.
    int access_in_place(const uint8_t*& ptr, int count, uint8_t* scratch);

    void enable_marker_throwing(bool reject_all_markers = false)
    {
        throw_markers = true;
        have_FF = false;
        reject_all = reject_all_markers;
    }
    // False when the last byte delivered was an 0xFF that might begin a marker.
    bool disable_marker_throwing()
    {
        if (!throw_markers)
            return true;
        throw_markers = false;
        if (exhausted)
            have_FF = false;
        return !have_FF;
    }
    bool is_exhausted() const { return exhausted; }
    void set_exhausted() { exhausted = true; }

protected:
    // Refills the data area; false (and exhausted) when nothing more is available.
    virtual bool load_buf() = 0;

    uint8_t* data_start() { return buffer + RV_INPUT_PUTBACK; }

    uint8_t buffer[RV_INPUT_PUTBACK + RV_INPUT_DATA];
    uint8_t* first_unread;
    uint8_t* first_unwritten;
    bool fully_buffered = false;
    bool exhausted = false;

public:
    // The packet reader sets these directly.
    bool throw_markers = false;
    bool have_FF = false;
    bool reject_all = false;

private:
    bool refill()
    {
        if (load_buf())
            return true;
        exhausted = true;
        return false;
    }
    void examine(uint8_t byte)
    {
        if (have_FF && byte > 0x8F)
            process_unexpected_marker(byte);
        have_FF = (byte == 0xFF);
    }
    void process_unexpected_marker(uint8_t byte);
};
