// The host program's script language: one command a line, blank-separated words, '#'
// starts a comment. A whole script is checked before any line runs (CheckScript): every
// command's shape, its numbers against their ranges, files it reads, snapshot formats and
// the order of create and release; running it then fails only on what the control or the
// files do.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostscript {

struct Arg {
    enum Kind { Long, Bool, String, File } kind = Long;
    int32_t number = 0;      // Long; Bool as -1 or 0
    std::u16string text;     // String
    std::string path;        // File: a UTF-8 file read as the string
};

struct Command {
    int line = 0;
    std::string verb;               // one of CommandTable()'s verbs
    std::string sub;                // wait: idle|event|ms; mouse: move|down|up|click|dblclick;
                                    // key: down|up|press; menu: choose|cancel; propnotify: refuse;
                                    // persist: save|load
    std::string name;               // call NAME, get/put PROP, wait event NAME, mouse/drag button, key KEY
    std::vector<Arg> args;          // call arguments, put value
    std::vector<int64_t> numbers;   // coordinates, sizes, counts, times
    std::string file;               // call > FILE, snapshot FILE, persist save|load FILE
    std::string text;               // echo text; key char (UTF-8); propnotify on|off
    bool hasRect = false;           // snapshot X Y W H
    int64_t quiet = 1000, max = 60000, count = 1; // wait options
};

// One script command as --help and the reference list it.
struct CommandInfo {
    const char* verb;
    const char* usage;   // the command with its arguments
    const char* summary; // one line
};
const std::vector<CommandInfo>& CommandTable();

// Events a script may wait for by name: the viewer's, by DISPID (1 to 15); null otherwise.
const char* EventName(int dispid);

// Splits a line into words: "..." with escapes \" \\ \n \t \uXXXX is one word (kept with its
// quotes marked), '#' outside quotes ends the line. False with a message on bad quoting.
struct Word {
    std::string text; // unescaped, UTF-8
    bool quoted = false;
};
bool SplitWords(const std::string& line, std::vector<Word>& words, std::string& error);

// Parses one line on its own. Blank and comment lines give verb "". False with a message
// when the line is not a command or a value lies outside its range (the range is named).
bool ParseLine(const std::string& line, int lineNumber, Command& command, std::string& error);

// Checks a whole script: a leading UTF-8 byte-order mark is skipped, every line parsed,
// files read by @FILE must be readable (or written by an earlier "call ... > FILE"), and
// calls, property accesses and release must follow a create and precede its release.
// Fills commands (blank lines left out) and one "error line N: ..." text per fault; true
// when there is none.
bool CheckScript(const std::string& text, const std::function<bool(const std::string&)>& readable,
                 std::vector<Command>& commands, std::vector<std::string>& errors);

// Output form of a text: quoted, with the same escapes (\uXXXX for other control characters).
std::string QuoteText(const std::u16string& text);

// Virtual-key code of a VK_ name, a letter or a digit; 0 when unknown.
unsigned KeyCode(const std::string& name);

} // namespace hostscript
