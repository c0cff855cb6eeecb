#include "host/script/HostScript.h"

#include "platform/TextConv.h"

#include <cstdlib>
#include <map>

namespace hostscript {

namespace {

void appendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decimal or 0x hexadecimal, optionally negative, within 32 bits.
bool parseNumber(const std::string& s, int64_t& out)
{
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        negative = s[i++] == '-';
    int base = 10;
    if (s.size() - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size())
        return false;
    int64_t v = 0;
    for (; i < s.size(); ++i) {
        int d = hexDigit(s[i]);
        if (d < 0 || d >= base)
            return false;
        v = v * base + d;
        if (v > 0xFFFFFFFFLL)
            return false;
    }
    if (base == 10 && v > (negative ? 0x80000000LL : 0x7FFFFFFFLL))
        return false;
    out = negative ? -v : v;
    return true;
}

bool parseArg(const Word& w, Arg& arg, std::string& error)
{
    if (w.quoted) {
        arg.kind = Arg::String;
        arg.text = Utf8ToUtf16(w.text);
        return true;
    }
    if (w.text == "true" || w.text == "false") {
        arg.kind = Arg::Bool;
        arg.number = w.text == "true" ? -1 : 0;
        return true;
    }
    if (!w.text.empty() && w.text[0] == '@') {
        if (w.text.size() == 1) {
            error = "@ needs a path";
            return false;
        }
        arg.kind = Arg::File;
        arg.path = w.text.substr(1);
        return true;
    }
    int64_t v = 0;
    if (!parseNumber(w.text, v)) {
        error = "not an argument: " + w.text;
        return false;
    }
    arg.kind = Arg::Long;
    arg.number = int32_t(uint32_t(v));
    return true;
}

} // namespace

bool SplitWords(const std::string& line, std::vector<Word>& words, std::string& error)
{
    words.clear();
    size_t i = 0;
    while (i < line.size()) {
        char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '#')
            break;
        Word w;
        if (c != '"') {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
                w.text += line[i++];
            words.push_back(std::move(w));
            continue;
        }
        w.quoted = true;
        ++i;
        bool closed = false;
        while (i < line.size()) {
            char d = line[i++];
            if (d == '"') {
                closed = true;
                break;
            }
            if (d != '\\') {
                w.text += d;
                continue;
            }
            if (i >= line.size())
                break;
            char e = line[i++];
            switch (e) {
            case '"': w.text += '"'; break;
            case '\\': w.text += '\\'; break;
            case 'n': w.text += '\n'; break;
            case 't': w.text += '\t'; break;
            case 'u': {
                uint32_t code = 0;
                for (int k = 0; k < 4; ++k) {
                    int h = i < line.size() ? hexDigit(line[i]) : -1;
                    if (h < 0) {
                        error = "bad \\u escape";
                        return false;
                    }
                    code = code * 16 + uint32_t(h);
                    ++i;
                }
                // A character beyond 16 bits is written as a surrogate pair of escapes.
                if (code >= 0xD800 && code < 0xDC00 && i + 6 <= line.size() && line[i] == '\\' &&
                    line[i + 1] == 'u') {
                    uint32_t low = 0;
                    bool ok = true;
                    for (int k = 0; k < 4; ++k) {
                        int h = hexDigit(line[i + 2 + k]);
                        ok = ok && h >= 0;
                        low = low * 16 + uint32_t(h < 0 ? 0 : h);
                    }
                    if (ok && low >= 0xDC00 && low < 0xE000) {
                        i += 6;
                        uint32_t cp = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        w.text += char(0xF0 | (cp >> 18));
                        w.text += char(0x80 | ((cp >> 12) & 0x3F));
                        w.text += char(0x80 | ((cp >> 6) & 0x3F));
                        w.text += char(0x80 | (cp & 0x3F));
                        break;
                    }
                }
                if (code >= 0xD800 && code < 0xE000) {
                    error = "lone surrogate in \\u escape";
                    return false;
                }
                appendUtf8(w.text, code);
                break;
            }
            default: error = std::string("unknown escape \\") + e; return false;
            }
        }
        if (!closed) {
            error = "unterminated string";
            return false;
        }
        words.push_back(std::move(w));
    }
    return true;
}

unsigned KeyCode(const std::string& name)
{
    static const std::map<std::string, unsigned> names = {
        {"VK_BACK", 0x08},   {"VK_TAB", 0x09},    {"VK_RETURN", 0x0D}, {"VK_SHIFT", 0x10},
        {"VK_CONTROL", 0x11}, {"VK_MENU", 0x12},  {"VK_ESCAPE", 0x1B}, {"VK_SPACE", 0x20},
        {"VK_PRIOR", 0x21},  {"VK_NEXT", 0x22},   {"VK_END", 0x23},    {"VK_HOME", 0x24},
        {"VK_LEFT", 0x25},   {"VK_UP", 0x26},     {"VK_RIGHT", 0x27},  {"VK_DOWN", 0x28},
        {"VK_INSERT", 0x2D}, {"VK_DELETE", 0x2E}, {"VK_ADD", 0x6B},    {"VK_SUBTRACT", 0x6D},
    };
    if (name.size() == 1) {
        char c = name[0];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            return unsigned(c);
        return 0;
    }
    auto it = names.find(name);
    if (it != names.end())
        return it->second;
    if (name.size() >= 5 && name.compare(0, 4, "VK_F") == 0) {
        int64_t n = 0;
        if (parseNumber(name.substr(4), n) && n >= 1 && n <= 24)
            return unsigned(0x70 + n - 1);
    }
    return 0;
}

std::string QuoteText(const std::u16string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'"')
            out += "\\\"";
        else if (c == u'\\')
            out += "\\\\";
        else if (c == u'\n')
            out += "\\n";
        else if (c == u'\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F || (c >= 0xD800 && c < 0xE000 &&
                                          !(c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                                            text[i + 1] < 0xE000))) {
            // Control characters and lone surrogates, so the output stays valid UTF-8.
            static const char hex[] = "0123456789ABCDEF";
            out += "\\u";
            for (int s = 12; s >= 0; s -= 4)
                out += hex[(c >> s) & 0xF];
        } else if (c >= 0xD800 && c < 0xDC00) {
            out += Utf16ToUtf8(text.substr(i, 2));
            ++i;
        } else {
            out += Utf16ToUtf8(std::u16string(1, c));
        }
    }
    return out + "\"";
}

static bool parseLine(const std::string& line, int lineNumber, Command& cmd, std::string& error)
{
    cmd = Command();
    cmd.line = lineNumber;
    std::vector<Word> w;
    if (!SplitWords(line, w, error))
        return false;
    if (w.empty())
        return true;
    if (w[0].quoted) {
        error = "a command cannot be quoted";
        return false;
    }
    cmd.verb = w[0].text;
    const size_t n = w.size();
    auto number = [&](size_t i, int64_t& out) {
        if (i >= n || w[i].quoted || !parseNumber(w[i].text, out)) {
            error = cmd.verb + ": number expected" + (i < n ? ": " + w[i].text : std::string());
            return false;
        }
        return true;
    };
    auto numbersFrom = [&](size_t first, size_t count) {
        if (n != first + count) {
            error = cmd.verb + ": " + std::to_string(count) + " numbers expected";
            return false;
        }
        for (size_t i = first; i < n; ++i) {
            int64_t v = 0;
            if (!number(i, v))
                return false;
            cmd.numbers.push_back(v);
        }
        return true;
    };
    auto bare = [&](size_t i) { return i < n && !w[i].quoted; };
    auto button = [&](size_t i) {
        if (!bare(i) || (w[i].text != "left" && w[i].text != "right")) {
            error = cmd.verb + ": left or right expected";
            return false;
        }
        cmd.name = w[i].text;
        return true;
    };
    const std::string& v = cmd.verb;
    if (v == "create" || v == "release") {
        if (n != 1) {
            error = v + " takes no arguments";
            return false;
        }
        return true;
    }
    if (v == "call" || v == "get" || v == "put") {
        if (!bare(1)) {
            error = v + ": name expected";
            return false;
        }
        cmd.name = w[1].text;
        size_t end = n;
        if (v == "call" && n >= 3 && bare(n - 2) && w[n - 2].text == ">") {
            if (w[n - 1].text.empty()) {
                error = "call: > needs a file";
                return false;
            }
            cmd.file = w[n - 1].text;
            end = n - 2;
        }
        if (v == "get" && n != 2) {
            error = "get takes one property";
            return false;
        }
        if (v == "put" && n != 3) {
            error = "put takes a property and a value";
            return false;
        }
        for (size_t i = 2; i < end; ++i) {
            Arg a;
            if (!parseArg(w[i], a, error))
                return false;
            cmd.args.push_back(std::move(a));
        }
        return true;
    }
    if (v == "wait") {
        if (!bare(1)) {
            error = "wait: idle, event or ms expected";
            return false;
        }
        cmd.sub = w[1].text;
        size_t i = 2;
        if (cmd.sub == "ms")
            return numbersFrom(2, 1) && cmd.numbers[0] >= 0;
        if (cmd.sub == "event") {
            if (!bare(2)) {
                error = "wait event: name expected";
                return false;
            }
            cmd.name = w[2].text;
            i = 3;
        } else if (cmd.sub != "idle") {
            error = "wait: idle, event or ms expected";
            return false;
        }
        while (i < n) {
            int64_t value = 0;
            const std::string key = w[i].quoted ? std::string() : w[i].text;
            if (!number(i + 1, value) || value < 0)
                return false;
            if (key == "max")
                cmd.max = value;
            else if (key == "quiet" && cmd.sub == "idle")
                cmd.quiet = value;
            else if (key == "count" && cmd.sub == "event")
                cmd.count = value;
            else {
                error = "wait: unknown option " + w[i].text;
                return false;
            }
            i += 2;
        }
        return true;
    }
    if (v == "mouse") {
        if (!bare(1)) {
            error = "mouse: action expected";
            return false;
        }
        cmd.sub = w[1].text;
        if (cmd.sub == "move")
            return numbersFrom(2, 2);
        if (cmd.sub == "down" || cmd.sub == "up" || cmd.sub == "click" || cmd.sub == "dblclick")
            return button(2) && numbersFrom(3, 2);
        error = "mouse: move, down, up, click or dblclick expected";
        return false;
    }
    if (v == "drag") {
        if (!button(1))
            return false;
        if (n != 6 && n != 8) {
            error = "drag: X1 Y1 X2 Y2 [steps N] expected";
            return false;
        }
        for (size_t i = 2; i < 6; ++i) {
            int64_t value = 0;
            if (!number(i, value))
                return false;
            cmd.numbers.push_back(value);
        }
        if (n == 8 && (!bare(6) || w[6].text != "steps" || !number(7, cmd.count) || cmd.count < 1 ||
                       cmd.count > 10000)) {
            error = "drag: steps N (1 to 10000) expected";
            return false;
        }
        return true;
    }
    if (v == "wheel")
        return numbersFrom(1, 1);
    if (v == "key") {
        if (!bare(1) || (w[1].text != "down" && w[1].text != "up" && w[1].text != "press")) {
            error = "key: down, up or press expected";
            return false;
        }
        cmd.sub = w[1].text;
        if (!bare(2) || KeyCode(w[2].text) == 0) {
            error = "key: unknown key";
            return false;
        }
        cmd.name = w[2].text;
        if (n == 5 && bare(3) && w[3].text == "char" && !w[4].text.empty() &&
            Utf8ToUtf16(w[4].text).size() == 1) {
            cmd.text = w[4].text;
            return true;
        }
        if (n != 3) {
            error = "key: char C expected";
            return false;
        }
        return true;
    }
    if (v == "menu") {
        if (n == 2 && bare(1) && w[1].text == "cancel") {
            cmd.sub = "cancel";
            return true;
        }
        if (bare(1) && w[1].text == "choose") {
            cmd.sub = "choose";
            return numbersFrom(2, 1) && cmd.numbers[0] > 0;
        }
        error = "menu: choose ID or cancel expected";
        return false;
    }
    if (v == "resize")
        return numbersFrom(1, 2) && cmd.numbers[0] > 0 && cmd.numbers[1] > 0 && cmd.numbers[0] <= 8192 &&
               cmd.numbers[1] <= 8192;
    if (v == "snapshot") {
        if (n < 2 || w[1].text.empty()) {
            error = "snapshot: file expected";
            return false;
        }
        cmd.file = w[1].text;
        if (n == 2)
            return true;
        cmd.hasRect = true;
        return numbersFrom(2, 4) && cmd.numbers[2] > 0 && cmd.numbers[3] > 0;
    }
    if (v == "propnotify") {
        if (n == 3 && bare(1) && w[1].text == "refuse" && (w[2].text == "on" || w[2].text == "off")) {
            cmd.sub = "refuse";
            cmd.text = w[2].text;
            return true;
        }
        error = "propnotify: refuse on|off expected";
        return false;
    }
    if (v == "persist") {
        if (n == 3 && bare(1) && (w[1].text == "save" || w[1].text == "load") && !w[2].text.empty()) {
            cmd.sub = w[1].text;
            cmd.file = w[2].text;
            return true;
        }
        error = "persist: save FILE or load FILE expected";
        return false;
    }
    if (v == "echo") {
        for (size_t i = 1; i < n; ++i)
            cmd.text += (i > 1 ? " " : "") + w[i].text;
        return true;
    }
    error = "unknown command " + v;
    return false;
}

bool ParseLine(const std::string& line, int lineNumber, Command& cmd, std::string& error)
{
    error.clear();
    bool ok = parseLine(line, lineNumber, cmd, error);
    if (!ok && error.empty())
        error = cmd.verb + ": bad arguments";
    return ok;
}

} // namespace hostscript
