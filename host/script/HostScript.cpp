#include "host/script/HostScript.h"

#include "platform/TextConv.h"

#include <cstdlib>
#include <map>
#include <set>

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

namespace {

// Ranges of the numbers a script gives, each with its reason.
const int64_t kMaxWaitMs = 3600000;   // an hour: anything longer is a typo
const int64_t kMaxSide = 8192;        // the largest window or snapshot side the host makes
const int64_t kMaxCoord = 32767;      // positions travel as signed 16-bit halves of lParam
const int64_t kMaxNotches = 273;      // notches x 120 must fit the wheel delta's 16 bits
const int64_t kMaxMenuId = 65535;     // a command id travels in WM_COMMAND's low word
const int64_t kMaxSteps = 10000;
const int64_t kMaxCount = 1000000;

const char* const kEvents[] = {nullptr,           "OnSetWorkingTool",     "OnSetHangingMode",
                               "OnSetSelectMode", "OnSetFitType",         "OnSetLayout",
                               "OnTurn",          "OnTotalPagesChanged",  "OnCurrentPageChanged",
                               "OnImageStatusModified", "OnShowRuler",    "OnShowAnnotation",
                               "OnShowOverlay",   "OnInitFinished",       "OnLoadDataFinished",
                               "OnConfigStampFinished"};

std::string fileSuffix(const std::string& path)
{
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return "";
    std::string s = path.substr(dot + 1);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// The words of one line and the command being filled; each check names the command.
struct Parser {
    const std::vector<Word>& w;
    Command& cmd;
    std::string& error;
    const char* usage = "";
    std::string prefix; // the command's words that errors name; the verb when empty

    size_t n() const { return w.size(); }
    bool bare(size_t i) const { return i < n() && !w[i].quoted; }
    bool is(size_t i, const char* word) const { return bare(i) && w[i].text == word; }
    bool fail(const std::string& what)
    {
        error = (prefix.empty() ? cmd.verb : prefix) + ": " + what;
        return false;
    }
    bool shape() { return fail(std::string("expected ") + usage); }
    bool words(size_t count) { return n() == count || shape(); }
    bool number(size_t i, const char* what, int64_t lo, int64_t hi, int64_t& out)
    {
        const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
        if (i >= n())
            return fail(std::string(what) + " (" + range + ") missing; expected " + usage);
        if (w[i].quoted || !parseNumber(w[i].text, out) || out < lo || out > hi)
            return fail(std::string(what) + " must be a number from " + range + ", not " +
                        (w[i].quoted ? "\"" + w[i].text + "\"" : w[i].text));
        return true;
    }
    bool push(size_t i, const char* what, int64_t lo, int64_t hi)
    {
        int64_t v = 0;
        if (!number(i, what, lo, hi, v))
            return false;
        cmd.numbers.push_back(v);
        return true;
    }
    bool point(size_t i, const char* x, const char* y)
    {
        return push(i, x, -kMaxCoord - 1, kMaxCoord) && push(i + 1, y, -kMaxCoord - 1, kMaxCoord);
    }
    bool button(size_t i)
    {
        if (!bare(i) || (w[i].text != "left" && w[i].text != "right"))
            return fail("left or right expected" + (i < n() ? ", not " + w[i].text : std::string()));
        cmd.name = w[i].text;
        return true;
    }
};

bool parseAlone(Parser& p) { return p.words(1); }

bool parseMember(Parser& p)
{
    const std::string& v = p.cmd.verb;
    if (!p.bare(1) || p.w[1].text.empty() || p.w[1].text == ">")
        return p.fail(v == "call" ? "method name expected" : "property name expected");
    p.cmd.name = p.w[1].text;
    size_t end = p.n();
    if (v == "call" && p.n() >= 3 && p.is(p.n() - 2, ">")) {
        if (p.w[p.n() - 1].text.empty())
            return p.fail("> needs a file");
        p.cmd.file = p.w[p.n() - 1].text;
        end = p.n() - 2;
    }
    if (v == "get" && p.n() != 2)
        return p.fail("takes one property name, no value");
    if (v == "put" && p.n() != 3)
        return p.fail("takes a property name and one value");
    for (size_t i = 2; i < end; ++i) {
        Arg a;
        std::string e;
        if (!parseArg(p.w[i], a, e))
            return p.fail(e + " (a number, true, false, \"text\" or @FILE)");
        p.cmd.args.push_back(std::move(a));
    }
    return true;
}

bool parseWait(Parser& p)
{
    Command& c = p.cmd;
    c.sub = p.bare(1) ? p.w[1].text : "";
    size_t i = 2;
    if (c.sub == "ms" || c.sub == "event" || c.sub == "idle")
        p.prefix = "wait " + c.sub;
    if (c.sub == "ms")
        return p.words(3) && p.push(2, "N", 0, kMaxWaitMs);
    if (c.sub == "event") {
        if (!p.bare(2))
            return p.fail("event name expected");
        c.name = p.w[2].text;
        bool known = false;
        for (const char* e : kEvents)
            known = known || (e && c.name == e);
        if (!known && !(c.name.size() > 1 && c.name[0] == '#'))
            return p.fail("unknown event " + c.name + " (the control's events are On... names, e.g. OnInitFinished)");
        i = 3;
    } else if (c.sub != "idle") {
        return p.shape();
    }
    for (; i < p.n(); i += 2) {
        const std::string key = p.bare(i) ? p.w[i].text : std::string();
        if (key == "max") {
            if (!p.number(i + 1, "max", 0, kMaxWaitMs, c.max))
                return false;
        } else if (key == "quiet" && c.sub == "idle") {
            if (!p.number(i + 1, "quiet", 0, kMaxWaitMs, c.quiet))
                return false;
        } else if (key == "count" && c.sub == "event") {
            if (!p.number(i + 1, "count", 1, kMaxCount, c.count))
                return false;
        } else {
            return p.fail("unknown option " + p.w[i].text + "; expected " + p.usage);
        }
    }
    return true;
}

bool parseMouse(Parser& p)
{
    Command& c = p.cmd;
    c.sub = p.bare(1) ? p.w[1].text : "";
    if (c.sub == "move")
        return p.words(4) && p.point(2, "X", "Y");
    if (c.sub == "down" || c.sub == "up" || c.sub == "click" || c.sub == "dblclick")
        return p.words(5) && p.button(2) && p.point(3, "X", "Y");
    return p.shape();
}

bool parseDrag(Parser& p)
{
    if (p.n() != 6 && p.n() != 8)
        return p.shape();
    if (!p.button(1) || !p.point(2, "X1", "Y1") || !p.point(4, "X2", "Y2"))
        return false;
    if (p.n() == 8 && !p.is(6, "steps"))
        return p.shape();
    return p.n() == 6 || p.number(7, "steps", 1, kMaxSteps, p.cmd.count);
}

bool parseWheel(Parser& p) { return p.words(2) && p.push(1, "notches", -kMaxNotches, kMaxNotches); }

bool parseKey(Parser& p)
{
    Command& c = p.cmd;
    if (!p.is(1, "down") && !p.is(1, "up") && !p.is(1, "press"))
        return p.shape();
    c.sub = p.w[1].text;
    if (!p.bare(2) || KeyCode(p.w[2].text) == 0)
        return p.fail("unknown key " + (p.n() > 2 ? p.w[2].text : std::string()) +
                      " (a letter, a digit, VK_F1 to VK_F24 or a VK_ name)");
    c.name = p.w[2].text;
    if (p.n() == 3)
        return true;
    if (p.n() == 5 && p.is(3, "char") && !p.w[4].text.empty() && Utf8ToUtf16(p.w[4].text).size() == 1) {
        c.text = p.w[4].text;
        return true;
    }
    return p.fail("char takes one character; expected " + std::string(p.usage));
}

bool parseMenu(Parser& p)
{
    if (p.n() == 2 && p.is(1, "cancel")) {
        p.cmd.sub = "cancel";
        return true;
    }
    if (!p.is(1, "choose"))
        return p.shape();
    p.cmd.sub = "choose";
    return p.words(3) && p.push(2, "ID", 1, kMaxMenuId);
}

bool parseResize(Parser& p) { return p.words(3) && p.push(1, "W", 1, kMaxSide) && p.push(2, "H", 1, kMaxSide); }

bool parseSnapshot(Parser& p)
{
    Command& c = p.cmd;
    if ((p.n() != 2 && p.n() != 6) || p.w[1].text.empty())
        return p.shape();
    c.file = p.w[1].text;
    const std::string suffix = fileSuffix(c.file);
    if (suffix != "png" && suffix != "bmp")
        return p.fail("cannot write " + (suffix.empty() ? std::string("a file without a suffix") : "." + suffix + " files") +
                      " (" + c.file + "); the file must end in .png or .bmp");
    if (p.n() == 2)
        return true;
    c.hasRect = true;
    return p.push(2, "X", -kMaxSide, kMaxSide) && p.push(3, "Y", -kMaxSide, kMaxSide) && p.push(4, "W", 1, kMaxSide) &&
           p.push(5, "H", 1, kMaxSide);
}

bool parsePropnotify(Parser& p)
{
    if (p.n() != 3 || !p.is(1, "refuse") || !(p.is(2, "on") || p.is(2, "off")))
        return p.shape();
    p.cmd.sub = "refuse";
    p.cmd.text = p.w[2].text;
    return true;
}

bool parsePersist(Parser& p)
{
    if (p.n() != 3 || !(p.is(1, "save") || p.is(1, "load")) || p.w[2].text.empty())
        return p.shape();
    p.cmd.sub = p.w[1].text;
    p.cmd.file = p.w[2].text;
    return true;
}

bool parseEcho(Parser& p)
{
    for (size_t i = 1; i < p.n(); ++i)
        p.cmd.text += (i > 1 ? " " : "") + p.w[i].text;
    return true;
}

struct Entry {
    CommandInfo info;
    bool (*parse)(Parser&);
};

// Every script command, in the order --help lists them. A new command is one entry here
// and one in the host's table of what each verb does.
const std::vector<Entry>& entries()
{
    static const std::vector<Entry> table = {
        {{"create", "create", "load the module, create the control and activate it in the window"}, parseAlone},
        {{"release", "release", "close and release the control; prints unload and DllCanUnloadNow's answer"},
         parseAlone},
        {{"call", "call NAME [ARG...] [> FILE]",
          "call a method; ARG is a number, true, false, \"text\" or @FILE; > FILE saves a returned text"},
         parseMember},
        {{"get", "get PROP", "read a property"}, parseMember},
        {{"put", "put PROP VALUE", "write a property"}, parseMember},
        {{"strict", "strict", "from here on, a call, get or put answering a failure code ends the run (status 4)"},
         parseAlone},
        {{"wait", "wait ms N | wait idle [quiet MS] [max MS] | wait event NAME [count N] [max MS]",
          "pump messages: N ms; until nothing changed for quiet ms; until NAME was raised count times"},
         parseWait},
        {{"mouse", "mouse move X Y | mouse down|up|click|dblclick left|right X Y",
          "inject mouse input at client coordinates"},
         parseMouse},
        {{"drag", "drag left|right X1 Y1 X2 Y2 [steps N]", "press, move in N steps (default 1), release"},
         parseDrag},
        {{"wheel", "wheel N", "turn the wheel N notches (negative: towards the user)"}, parseWheel},
        {{"key", "key down|up|press KEY [char C]", "inject a key (a letter, a digit or a VK_ name) with its character"},
         parseKey},
        {{"menu", "menu choose ID | menu cancel", "answer the next popup menu with item ID, or with no choice"},
         parseMenu},
        {{"resize", "resize W H", "resize the window and the control"}, parseResize},
        {{"snapshot", "snapshot FILE.png|FILE.bmp [X Y W H]",
          "save what was painted (all, or a rectangle); prints the size and the CRC-32 of the RGB bytes"},
         parseSnapshot},
        {{"propnotify", "propnotify refuse on|off", "refuse or allow the control's property edit requests"},
         parsePropnotify},
        {{"persist", "persist save|load FILE",
          "save the control's persisted properties to FILE, or load them from it (its stream persistence)"},
         parsePersist},
        {{"echo", "echo [TEXT...]", "print the text"}, parseEcho},
    };
    return table;
}

} // namespace

const std::vector<CommandInfo>& CommandTable()
{
    static const std::vector<CommandInfo> table = [] {
        std::vector<CommandInfo> out;
        for (const Entry& e : entries())
            out.push_back(e.info);
        return out;
    }();
    return table;
}

const char* EventName(int dispid) { return dispid >= 1 && dispid <= 15 ? kEvents[dispid] : nullptr; }

bool ParseLine(const std::string& line, int lineNumber, Command& cmd, std::string& error)
{
    error.clear();
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
    for (const Entry& e : entries())
        if (cmd.verb == e.info.verb) {
            Parser p{w, cmd, error, e.info.usage, {}};
            bool ok = e.parse(p);
            if (!ok && error.empty())
                error = cmd.verb + ": expected " + e.info.usage;
            return ok;
        }
    error = "unknown command " + QuoteText(Utf8ToUtf16(cmd.verb)) + " (orbel-host --help lists the commands)";
    return false;
}

bool CheckScript(const std::string& text, const std::function<bool(const std::string&)>& readable,
                 std::vector<Command>& commands, std::vector<std::string>& errors)
{
    commands.clear();
    errors.clear();
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    int number = 0;
    int created = 0, released = 0; // lines of the last create and release (0: none)
    std::set<std::string> written;
    auto fault = [&](const std::string& what) { errors.push_back("error line " + std::to_string(number) + ": " + what); };
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        ++number;
        Command c;
        std::string error;
        bool ok = ParseLine(text.substr(start, end - start), number, c, error);
        start = end + 1;
        if (!ok) {
            fault(error);
            continue;
        }
        if (c.verb.empty())
            continue;
        const bool member = c.verb == "call" || c.verb == "get" || c.verb == "put" || c.verb == "persist";
        if (c.verb == "create") {
            created = number;
            released = 0;
        } else if (member || c.verb == "release") {
            if (!created && !released)
                fault(c.verb + " before create");
            else if (released)
                fault(c.verb + ": the control was already released on line " + std::to_string(released));
            else if (c.verb == "release") {
                released = number;
                created = 0;
            }
        }
        for (const Arg& a : c.args)
            if (a.kind == Arg::File && !written.count(a.path) && !readable(a.path))
                fault(c.verb + " " + c.name + ": cannot read " + a.path);
        if (!c.file.empty() && c.verb == "call")
            written.insert(c.file);
        commands.push_back(std::move(c));
    }
    return errors.empty();
}

} // namespace hostscript
