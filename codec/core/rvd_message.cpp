#include "codec/core/rvd_message.h"

#include <boost/make_shared.hpp>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

namespace {

rvd_message* g_error_handler = nullptr;
rvd_message* g_warning_handler = nullptr;

// Ends the process after an error that no handler took over.
class rv_process_terminator {
public:
    virtual ~rv_process_terminator() {}
    [[noreturn]] virtual void terminate_process() { std::exit(-1); }
};

rv_process_terminator g_terminator;

} // namespace

boost::recursive_mutex& rv_message_mutex()
{
    static boost::recursive_mutex m;
    return m;
}

namespace {

struct rv_text_record {
    uint32_t id;
    bool wide;
    std::string lead_in;
    boost::shared_ptr<const std::string> body;
    std::u16string wide_lead_in;
    boost::shared_ptr<const std::u16string> wide_body;
};

struct rv_context_record {
    std::string context;
    std::vector<rv_text_record> texts;
};

// Looked up by (context, id); the pairs are unique, so the order of the records does
// not matter to lookups.
std::vector<rv_context_record>& registry()
{
    static std::vector<rv_context_record> records;
    return records;
}

const rv_text_record* find_text(const char* context, uint32_t id)
{
    for (const rv_context_record& c : registry())
        if (c.context == context)
            for (const rv_text_record& t : c.texts)
                if (t.id == id)
                    return &t;
    return nullptr;
}

rv_text_record& text_slot(const char* context, uint32_t id)
{
    std::vector<rv_context_record>& records = registry();
    rv_context_record* found = nullptr;
    for (rv_context_record& c : records)
        if (c.context == context)
            found = &c;
    if (!found) {
        records.push_back(rv_context_record{context, {}});
        found = &records.back();
    }
    for (rv_text_record& t : found->texts)
        if (t.id == id)
            return t;
    found->texts.push_back(rv_text_record{id, false, {}, {}, {}, {}});
    return found->texts.back();
}

// Copies a run of NUL-terminated segments up to and including the empty one that ends it.
template <class Char> std::basic_string<Char> copy_body(const Char* body)
{
    std::basic_string<Char> out;
    if (body)
        for (const Char* p = body; *p; ++p) {
            for (; *p; ++p)
                out.push_back(*p);
            out.push_back(Char(0));
        }
    out.push_back(Char(0));
    return out;
}

void put_formatted(rvd_message& msg, const char* format, ...) __attribute__((format(printf, 2, 3)));

void put_formatted(rvd_message& msg, const char* format, ...)
{
    char small[64];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(small, sizeof(small), format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n < int(sizeof(small))) {
        msg.put_text(small);
        return;
    }
    // "%f" of a large value runs to hundreds of digits.
    std::vector<char> big(size_t(n) + 1);
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    msg.put_text(big.data());
}

const char* const kUntranslatedLines[] = {"Untranslated error --\n",
                                          "Consult vendor for more information\n", "Details:\n"};

// Starts an error or warning: captures the handler, tells it that a message starts and
// writes the lead-in.
void begin_message(rvd_message& msg, rv_message_route& route, rvd_message* handler,
                   const char* lead_in)
{
    route.uncaught_at_start = std::uncaught_exceptions();
    route.handler = handler;
    if (handler)
        handler->start_message();
    if (lead_in && *lead_in)
        msg.put_text(lead_in);
}

void begin_translated(rvd_message& msg, rv_message_route& route, rvd_message* handler,
                      const char* context, uint32_t id, bool is_error)
{
    begin_message(msg, route, handler, nullptr);
    if (!context)
        context = "";
    const rv_text_record* t = find_text(context, id);
    if (t && !t->wide) {
        route.narrow_body = t->body;
        route.narrow_cursor = route.narrow_body->c_str();
        if (!t->lead_in.empty())
            msg.put_text(t->lead_in.c_str());
    } else if (t) {
        route.wide_body = t->wide_body;
        route.wide_cursor = route.wide_body->c_str();
        if (!t->wide_lead_in.empty() && route.handler)
            route.handler->put_text(t->wide_lead_in.c_str());
    } else if (is_error) {
        for (const char* line : kUntranslatedLines)
            msg.put_text(line);
        msg.put_text("  context=\"");
        msg.put_text(context);
        msg.put_text("\"; id=");
        // Always decimal: the id names a registry entry, not a bit pattern.
        put_formatted(msg, "%u", unsigned(id));
        msg.put_text("; ");
    } else {
        route.handler = nullptr;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// rvd_message

rvd_message& rvd_message::operator<<(const char* text)
{
    if (text)
        put_text(text);
    return *this;
}

rvd_message& rvd_message::operator<<(int value)
{
    if (hex_mode)
        put_formatted(*this, "%x", unsigned(value));
    else
        put_formatted(*this, "%d", value);
    return *this;
}

rvd_message& rvd_message::operator<<(unsigned value)
{
    put_formatted(*this, hex_mode ? "%x" : "%u", value);
    return *this;
}

rvd_message& rvd_message::operator<<(float value)
{
    put_formatted(*this, "%f", double(value));
    return *this;
}

// ---------------------------------------------------------------------------------------
// rvd_message_formatter

rvd_message_formatter::rvd_message_formatter(rvd_message* output, int line_length, int max_indent)
    : line_length(line_length < 1 ? 1 : line_length), max_indent(max_indent), indent(0),
      master_indent(0), line_start(true), output(output)
{
    if (this->max_indent > this->line_length - 1)
        this->max_indent = this->line_length - 1;
    if (this->max_indent < 0)
        this->max_indent = 0;
    line_buf.reserve(size_t(this->line_length) + 2);
}

rvd_message_formatter::~rvd_message_formatter() noexcept(false)
{
    if (output)
        output->flush(false);
}

void rvd_message_formatter::put_text(const char16_t* text) { (void)text; }

void rvd_message_formatter::put_text(const char* text)
{
    if (!output || !text)
        return;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '\t' && line_start) {
            int n = 4;
            if (indent + master_indent + n > max_indent)
                n = max_indent - indent - master_indent;
            if (n > 0) {
                line_buf.append(size_t(n), ' ');
                indent += n;
            }
            continue;
        }
        if (c == '\t')
            c = ' ';
        if (c == '\n') {
            indent = 0;
            line_start = true;
            hand_over_line();
            line_buf.assign(size_t(master_indent), ' ');
            continue;
        }
        line_buf.push_back(c);
        line_start = false;
        if (int(line_buf.size()) <= line_length)
            continue;

        // The line overflows: break at the last blank after the indentation, or cut a
        // word that is longer than a line.
        const int size = int(line_buf.size());
        int a = 0;
        while (a < size && line_buf[size_t(a)] == ' ')
            ++a;
        int b = -1;
        for (int i = size - 1; i > a; --i)
            if (line_buf[size_t(i)] == ' ') {
                b = i;
                break;
            }
        if (b < 0)
            b = line_length;
        if (c == ' ' && p[1] == ' ')
            while (p[1] == ' ')
                ++p;
        for (int i = 0; i < b; ++i) {
            const char one[2] = {line_buf[size_t(i)], '\0'};
            output->put_text(one);
        }
        while (b < size && line_buf[size_t(b)] == ' ')
            ++b;
        output->put_text("\n");
        line_buf = std::string(size_t(indent + master_indent), ' ') + line_buf.substr(size_t(b));
    }
}

void rvd_message_formatter::hand_over_line()
{
    output->put_text(line_buf.c_str());
    output->put_text("\n");
}

void rvd_message_formatter::flush(bool end_of_message)
{
    if (!output)
        return;
    if (!line_start) {
        // Reset before handing over: the output may end the message by throwing.
        std::string line;
        line.swap(line_buf);
        line_buf.assign(size_t(indent + master_indent), ' ');
        line_start = true;
        output->put_text(line.c_str());
        output->put_text("\n");
    }
    if (end_of_message) {
        // The paragraph ends with the message: its tab indentation must not shift the
        // next message's first line.
        indent = 0;
        line_buf.assign(size_t(master_indent), ' ');
    }
    output->flush(end_of_message);
}

void rvd_message_formatter::start_message()
{
    if (!output)
        return;
    output->start_message();
    flush(false);
}

void rvd_message_formatter::set_master_indent(int n)
{
    if (!line_start)
        flush(false);
    if (n < 0)
        n = 0;
    if (n > max_indent)
        n = max_indent;
    master_indent = n;
    // Tab indentation of the current paragraph gives way, so that indentation never
    // reaches the line length and wrapping always makes progress.
    if (indent > max_indent - master_indent)
        indent = max_indent - master_indent;
    // At line start the buffer holds nothing but the indentation.
    line_buf.assign(size_t(indent + master_indent), ' ');
}

// ---------------------------------------------------------------------------------------
// rvd_error and rvd_warning

void rv_message_route::put_text(const char* text)
{
    if (!handler || !text)
        return;
    if (text[0] == '<' && text[1] == '#' && text[2] == '>' && text[3] == '\0') {
        if (narrow_cursor && *narrow_cursor) {
            const char* segment = narrow_cursor;
            while (*narrow_cursor)
                ++narrow_cursor;
            ++narrow_cursor;
            handler->put_text(segment);
            return;
        }
        if (wide_cursor && *wide_cursor) {
            const char16_t* segment = wide_cursor;
            while (*wide_cursor)
                ++wide_cursor;
            ++wide_cursor;
            handler->put_text(segment);
            return;
        }
    }
    handler->put_text(text);
}

void rv_message_route::put_text(const char16_t* text)
{
    if (handler && text)
        handler->put_text(text);
}

bool rv_message_route::end_message()
{
    if (std::uncaught_exceptions() > uncaught_at_start) {
        // A second exception leaving a destructor during unwinding would end the process.
        if (handler)
            try {
                handler->flush(true);
            } catch (...) {
            }
        return false;
    }
    if (handler)
        handler->flush(true);
    return true;
}

rvd_error::rvd_error() { begin_message(*this, route, g_error_handler, "Ravade Error:\n"); }

rvd_error::rvd_error(const char* lead_in) { begin_message(*this, route, g_error_handler, lead_in); }

rvd_error::rvd_error(const char* context, uint32_t id)
{
    begin_translated(*this, route, g_error_handler, context, id, true);
}

rvd_error::~rvd_error() noexcept(false)
{
    if (route.end_message())
        g_terminator.terminate_process();
}

void rvd_error::put_text(const char16_t* text) { route.put_text(text); }

void rvd_error::put_text(const char* text) { route.put_text(text); }

void rvd_error::flush(bool end_of_message)
{
    (void)end_of_message;
    if (route.handler)
        route.handler->flush(false);
}

rvd_warning::rvd_warning() { begin_message(*this, route, g_warning_handler, "Ravade Warning:\n"); }

rvd_warning::rvd_warning(const char* lead_in)
{
    begin_message(*this, route, g_warning_handler, lead_in);
}

rvd_warning::rvd_warning(const char* context, uint32_t id)
{
    begin_translated(*this, route, g_warning_handler, context, id, false);
}

rvd_warning::~rvd_warning() noexcept(false) { route.end_message(); }

void rvd_warning::put_text(const char16_t* text) { route.put_text(text); }

void rvd_warning::put_text(const char* text) { route.put_text(text); }

void rvd_warning::flush(bool end_of_message)
{
    (void)end_of_message;
    if (route.handler)
        route.handler->flush(false);
}

// ---------------------------------------------------------------------------------------
// Handlers and the text registry

rvd_message* rvd_customize_errors(rvd_message* handler)
{
    rvd_message* previous = g_error_handler;
    g_error_handler = handler;
    return previous;
}

rvd_message* rvd_customize_warnings(rvd_message* handler)
{
    rvd_message* previous = g_warning_handler;
    g_warning_handler = handler;
    return previous;
}

void rvd_customize_text(const char* context, uint32_t id, const char* lead_in, const char* body)
{
    rv_text_record& t = text_slot(context ? context : "", id);
    t.wide = false;
    t.lead_in = lead_in ? lead_in : "";
    t.body = boost::make_shared<const std::string>(copy_body(body));
    t.wide_lead_in.clear();
    t.wide_body.reset();
}

void rvd_customize_text(const char* context, uint32_t id, const char16_t* lead_in,
                        const char16_t* body)
{
    rv_text_record& t = text_slot(context ? context : "", id);
    t.wide = true;
    t.wide_lead_in = lead_in ? lead_in : u"";
    t.wide_body = boost::make_shared<const std::u16string>(copy_body(body));
    t.lead_in.clear();
    t.body.reset();
}

void rvd_release_text_registry()
{
    std::vector<rv_context_record>().swap(registry());
}
