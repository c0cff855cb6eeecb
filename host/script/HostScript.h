// The host program's script language: one command a line, blank-separated words, '#'
// starts a comment. Parsing checks every command's shape, so running one only fails on
// what the control or the files do.
#pragma once

#include <cstdint>
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
    std::string verb;               // create, release, call, get, put, wait, mouse, drag, wheel, key,
                                    // menu, resize, snapshot, propnotify, persist, echo
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

// Splits a line into words: "..." with escapes \" \\ \n \t \uXXXX is one word (kept with its
// quotes marked), '#' outside quotes ends the line. False with a message on bad quoting.
struct Word {
    std::string text; // unescaped, UTF-8
    bool quoted = false;
};
bool SplitWords(const std::string& line, std::vector<Word>& words, std::string& error);

// Parses one line. Blank and comment lines give verb "". False with a message when the
// line is not a command.
bool ParseLine(const std::string& line, int lineNumber, Command& command, std::string& error);

// Output form of a text: quoted, with the same escapes (\uXXXX for other control characters).
std::string QuoteText(const std::u16string& text);

// Virtual-key code of a VK_ name, a letter or a digit; 0 when unknown.
unsigned KeyCode(const std::string& name);

} // namespace hostscript
