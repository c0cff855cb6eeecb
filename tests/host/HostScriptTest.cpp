// The script check on its own: lines in, exact errors out, and whole scripts whose faults
// are all found before anything runs.
#include "host/script/HostScript.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using hostscript::Command;

TEST(HostScript, LinesOutsideTheirShapeOrRangeSayWhatIsAccepted)
{
    const struct {
        const char* line;
        const char* error; // empty: accepted
    } cases[] = {
        {"snapsht x.png", "unknown command \"snapsht\" (orbel-host --help lists the commands)"},
        {"wait ms -5", "wait ms: N must be a number from 0 to 3600000, not -5"},
        {"wait ms 3600001", "wait ms: N must be a number from 0 to 3600000, not 3600001"},
        {"wait ms", "wait ms: expected wait ms N | wait idle [quiet MS] [max MS] | wait event NAME [count N] [max MS]"},
        {"wait idle quiet abc", "wait idle: quiet must be a number from 0 to 3600000, not abc"},
        {"wait idle count 2", "wait idle: unknown option count; expected wait ms N | wait idle [quiet MS] [max MS] | "
                              "wait event NAME [count N] [max MS]"},
        {"wait event OnInitFinished count 0", "wait event: count must be a number from 1 to 1000000, not 0"},
        {"wait event OnInitFinishd", "wait event: unknown event OnInitFinishd (the control's events are On... names, e.g. "
                                     "OnInitFinished)"},
        {"wait event OnLoadDataFinished count 2 max 100", ""},
        {"menu choose 0", "menu: ID must be a number from 1 to 65535, not 0"},
        {"menu choose 65536", "menu: ID must be a number from 1 to 65535, not 65536"},
        {"menu choose 50001", ""},
        {"menu cancel now", "menu: expected menu choose ID | menu cancel"},
        {"resize 0 0", "resize: W must be a number from 1 to 8192, not 0"},
        {"resize 640 8193", "resize: H must be a number from 1 to 8192, not 8193"},
        {"resize 640", "resize: expected resize W H"},
        {"snapshot x.jpg", "snapshot: cannot write .jpg files (x.jpg); the file must end in .png or .bmp"},
        {"snapshot frame", "snapshot: cannot write a file without a suffix (frame); the file must end in .png or .bmp"},
        {"snapshot v1.0/frame", "snapshot: cannot write a file without a suffix (v1.0/frame); the file must end in "
                                ".png or .bmp"},
        {"snapshot X.PNG", ""},
        {"snapshot part.bmp 8 16 0 20", "snapshot: W must be a number from 1 to 8192, not 0"},
        {"snapshot part.bmp 8 16 40", "snapshot: expected snapshot FILE.png|FILE.bmp [X Y W H]"},
        {"mouse click middle 1 2", "mouse: left or right expected, not middle"},
        {"mouse move 1 40000", "mouse: Y must be a number from -32768 to 32767, not 40000"},
        {"mouse move 1", "mouse: expected mouse move X Y | mouse down|up|click|dblclick left|right X Y"},
        {"drag left 1 2 3 4 steps 0", "drag: steps must be a number from 1 to 10000, not 0"},
        {"drag left 1 2 3 4 step 2", "drag: expected drag left|right X1 Y1 X2 Y2 [steps N]"},
        {"wheel 274", "wheel: notches must be a number from -273 to 273, not 274"},
        {"wheel -273", ""},
        {"key press VK_NOPE", "key: unknown key VK_NOPE (a letter, a digit, VK_F1 to VK_F24 or a VK_ name)"},
        {"key press A char ab", "key: char takes one character; expected key down|up|press KEY [char C]"},
        {"call", "call: method name expected"},
        {"call Init 1.5", "call: not an argument: 1.5 (a number, true, false, \"text\" or @FILE)"},
        {"call GetImageStatus > status.xml", ""},
        {"get", "get: property name expected"},
        {"get HWND 5", "get: takes one property name, no value"},
        {"put HWND", "put: takes a property name and one value"},
        {"create now", "create: expected create"},
        {"strict on", "strict: expected strict"},
        {"propnotify refuse maybe", "propnotify: expected propnotify refuse on|off"},
        {"\"create\"", "a command cannot be quoted"},
        {"echo \"open", "unterminated string"},
        {"  # only a comment", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        Command cmd;
        std::string error;
        EXPECT_EQ(hostscript::ParseLine(c.line, 7, cmd, error), !*c.error);
        EXPECT_EQ(error, c.error);
    }
}

TEST(HostScript, WholeScriptIsCheckedBeforeAnythingRuns)
{
    const std::set<std::string> files = {"Config.xml"};
    auto readable = [&](const std::string& path) { return files.count(path) > 0; };
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> errors;
        size_t commands;
    } cases[] = {
        {"byte-order mark skipped", "\xEF\xBB\xBF" "create\r\ncall Init @Config.xml\r\nrelease\r\n", {}, 3},
        {"every fault, in line order",
         "create\necho fine\nsnapsht a.png\nwait ms -5\n\nresize 0 0\n",
         {"error line 3: unknown command \"snapsht\" (orbel-host --help lists the commands)",
          "error line 4: wait ms: N must be a number from 0 to 3600000, not -5",
          "error line 6: resize: W must be a number from 1 to 8192, not 0"},
         2},
        {"second release", "create\nrelease\nrelease\n",
         {"error line 3: release: the control was already released on line 2"}, 3},
        {"call after release", "create\nrelease\nget HWND\n",
         {"error line 3: get: the control was already released on line 2"}, 3},
        {"created again", "create\nrelease\ncreate\nput Caption \"x\"\nrelease\n", {}, 5},
        {"before create", "call Init @Config.xml\nrelease\n",
         {"error line 1: call before create", "error line 2: release before create"}, 2},
        {"files read", "create\ncall Init @Missing.xml\ncall GetImageStatus > s.xml\ncall LoadData @s.xml\n",
         {"error line 2: call Init: cannot read Missing.xml"}, 4},
        {"file read before it is written", "create\ncall LoadData @s.xml\ncall GetImageStatus > s.xml\n",
         {"error line 2: call LoadData: cannot read s.xml"}, 3},
        {"no final newline", "create\nstrict", {}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Command> commands;
        std::vector<std::string> errors;
        EXPECT_EQ(hostscript::CheckScript(c.text, readable, commands, errors), c.errors.empty());
        EXPECT_EQ(errors, c.errors);
        EXPECT_EQ(commands.size(), c.commands);
    }
}

} // namespace
