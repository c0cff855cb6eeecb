// The codec's message sinks. Every codec error and warning is built by streaming text
// into a stack object (rvd_error, rvd_warning) that hands it to a process-wide handler;
// the message ends when the object goes out of scope. An error then never returns to
// the code that raised it: either the handler throws from flush(true), or the process
// ends with exit code -1.
//
// Handlers and the text registry are process-wide and take no lock of their own: they are
// set up before decoding starts and only read afterwards. Worker threads of a thread
// group raise messages at once, so each message holds one process-wide recursive lock
// from its start until after its final flush: texts never interleave in a handler.
#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/thread/recursive_mutex.hpp>
#include <boost/thread/lock_types.hpp>

#include <cstdint>
#include <string>

// Abstract text sink; every operation of the base does nothing.
class rvd_message {
public:
    rvd_message() : hex_mode(false) {}
    rvd_message(const rvd_message&) = delete;
    rvd_message& operator=(const rvd_message&) = delete;
    // Handlers end a message by throwing from flush(true), which reaches the message's
    // destructor; no derived destructor can be declared non-throwing implicitly.
    virtual ~rvd_message() noexcept(false) {}

    virtual void put_text(const char16_t* text) { (void)text; }
    virtual void put_text(const char* text) { (void)text; }
    virtual void flush(bool end_of_message = false) { (void)end_of_message; }
    virtual void start_message() {}

    // While set, integers are written in hexadecimal.
    void set_hex_mode(bool on) { hex_mode = on; }
    bool get_hex_mode() const { return hex_mode; }

    rvd_message& operator<<(const char* text);
    rvd_message& operator<<(int value);      // "%d", or "%x" in hex mode
    rvd_message& operator<<(unsigned value); // "%u", or "%x" in hex mode
    rvd_message& operator<<(float value);    // "%f"

protected:
    bool hex_mode;
};

// Lays text out in lines of at most line_length characters for another sink. Whole lines
// go to the output as one text followed by "\n"; a line that overflows is handed over one
// character at a time up to its break, then "\n". A tab at the start of a paragraph
// indents its wrapped lines by 4 more (never beyond max_indent); elsewhere a tab is a
// blank.
class rvd_message_formatter : public rvd_message {
public:
    // The output is not owned. line_length is at least 1 and max_indent at most
    // line_length - 1, so wrapping always makes progress.
    explicit rvd_message_formatter(rvd_message* output, int line_length = 79, int max_indent = 40);
    ~rvd_message_formatter() noexcept(false) override;

    void put_text(const char16_t* text) override;
    void put_text(const char* text) override;
    void flush(bool end_of_message = false) override;
    void start_message() override;

    // Indentation applied to every line, clamped to 0..max_indent.
    void set_master_indent(int n);

private:
    void hand_over_line();

    std::string line_buf; // current line, indentation included
    int line_length;
    int max_indent;
    int indent;        // made by tabs in the current paragraph
    int master_indent;
    bool line_start;   // nothing but indentation since the last line end
    rvd_message* output;
};

// The lock every message holds while it is being written.
boost::recursive_mutex& rv_message_mutex();

// What rvd_error and rvd_warning share: the captured handler and the cursors into a
// translated body.
struct rv_message_route {
    // First member: taken before the handler is captured and released last, also when
    // the handler throws from the final flush.
    boost::unique_lock<boost::recursive_mutex> message_lock{rv_message_mutex()};
    rvd_message* handler = nullptr;
    boost::shared_ptr<const std::string> narrow_body; // keeps the cursor's text alive
    const char* narrow_cursor = nullptr;
    boost::shared_ptr<const std::u16string> wide_body;
    const char16_t* wide_cursor = nullptr;
    int uncaught_at_start = 0;

    void put_text(const char* text);
    void put_text(const char16_t* text);
    // Ends the message with the handler's flush(true); true when the caller may go on to
    // its own end (no exception was already unwinding).
    bool end_message();
};

// One codec error. Construction captures the installed error handler, tells it that a
// message starts and writes the lead-in; destruction ends the message with flush(true)
// and then ends the process unless the handler threw. If another exception is already
// unwinding through the error's scope, the handler is flushed with anything it throws
// dropped, and the unwinding goes on.
class rvd_error : public rvd_message {
public:
    rvd_error(); // lead-in "Ravade Error:\n"
    explicit rvd_error(const char* lead_in);
    rvd_error(const char* context, uint32_t id); // translated text from the registry
    ~rvd_error() noexcept(false) override;

    void put_text(const char16_t* text) override;
    // "<#>" stands for the next segment of a translated body.
    void put_text(const char* text) override;
    // A flush inside a message never ends it.
    void flush(bool end_of_message = false) override;

private:
    rv_message_route route;
};

// One codec warning: as rvd_error, with the warning handler, and destruction returns
// normally. An untranslated (context, id) warning is dropped whole.
class rvd_warning : public rvd_message {
public:
    rvd_warning(); // lead-in "Ravade Warning:\n"
    explicit rvd_warning(const char* lead_in);
    rvd_warning(const char* context, uint32_t id);
    ~rvd_warning() noexcept(false) override;

    void put_text(const char16_t* text) override;
    void put_text(const char* text) override;
    void flush(bool end_of_message = false) override;

private:
    rv_message_route route;
};

// Install the process-wide handlers (null removes one). Each returns the handler it
// replaces, so a caller can put it back.
rvd_message* rvd_customize_errors(rvd_message* handler);
rvd_message* rvd_customize_warnings(rvd_message* handler);

// Registers the translated texts of (context, id); a second registration replaces them.
// The body is a run of NUL-terminated segments ended by an empty segment; "<#>" in a
// message stands for its next segment. The strings are copied.
void rvd_customize_text(const char* context, uint32_t id, const char* lead_in, const char* body);
void rvd_customize_text(const char* context, uint32_t id, const char16_t* lead_in,
                        const char16_t* body);

// Frees every registered text; called when the module unloads.
void rvd_release_text_registry();
