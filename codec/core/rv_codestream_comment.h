// One COM text of a codestream, linked into the codestream's comment list.
#pragma once

class rvd_output;

class rv_codestream_comment {
public:
    rv_codestream_comment() = default;
    ~rv_codestream_comment() { delete[] text; }
    rv_codestream_comment(const rv_codestream_comment&) = delete;
    rv_codestream_comment& operator=(const rv_codestream_comment&) = delete;

    // Loads the text bytes of a COM segment read from a codestream; read-only from then on.
    void init(int length, const unsigned char* bytes);
    bool put_text(const char* string);
    // Sizes the COM marker segment (marker code included) and writes it when `out` is
    // given; a non-zero `force_length` pads or cuts the text to that total. Marks the
    // comment read-only. A text a segment cannot hold raises an error before any byte.
    // Without a `force_length` the comment's own `forced_length` applies.
    int write_marker(rvd_output* out, int force_length = 0);

    bool readonly = false;
    int max_chars = 0;
    int num_chars = 0;
    char* text = nullptr;
    rv_codestream_comment* next = nullptr;
    int forced_length = 0; // a segment length reserved before the text was known


private:
    void grow(int min_chars);
};

class rvd_codestream_comment {
public:
    rvd_codestream_comment() = default;
    explicit rvd_codestream_comment(rv_codestream_comment* s) : state(s) {}
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }
    bool operator==(const rvd_codestream_comment& o) const { return state == o.state; }
    bool operator!=(const rvd_codestream_comment& o) const { return state != o.state; }

    // "" while the comment holds no text yet; null for an empty handle.
    const char* get_text() const;
    bool check_readonly() const { return state == nullptr || state->readonly; }
    bool put_text(const char* string) { return state != nullptr && state->put_text(string); }

    rv_codestream_comment* get_state() const { return state; }

private:
    rv_codestream_comment* state = nullptr;
};
