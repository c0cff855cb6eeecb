// A private drive C for each log test and the logger's start-up state around it.
#pragma once

#include "diagnostics/Logging.h"
#include "platform/KernelTestHooks.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

class LogFileFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbel-log-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        drive_ = pattern;
        setenv("ORBEL_DRIVE_C", drive_.c_str(), 1);
        resetLogger();
        // Pinned readings start from what the test pins, not from a clock left running.
        KernelTestHooks::reset();
    }
    void TearDown() override
    {
        resetLogger();
        KernelTestHooks::reset();
        unsetenv("ORBEL_DRIVE_C");
        std::error_code ec;
        std::filesystem::remove_all(drive_, ec);
    }

    static void resetLogger()
    {
        initLogFile(nullptr, 0, 1, 1);
        setMinLogLevel(0);
        setLogItems(false, false, true, false);
    }

    // 5 December 22:54:49, tick 123456.
    static void pinClock(WORD month = 12, WORD day = 5, WORD h = 22, WORD m = 54, WORD s = 49)
    {
        SYSTEMTIME st{2026, month, 0, day, h, m, s, 0};
        KernelTestHooks::setFixedLocalTime(&st);
        KernelTestHooks::setFixedTickCount(123456);
    }

public:
    // Lines ending in "\r\n", without the terminator; a torn tail shows up as its own entry.
    static std::vector<std::string> splitRecords(const std::string& text)
    {
        std::vector<std::string> out;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find("\r\n", pos);
            if (end == std::string::npos) {
                out.push_back(text.substr(pos));
                break;
            }
            out.push_back(text.substr(pos, end - pos));
            pos = end + 2;
        }
        return out;
    }

protected:
    std::string logPath() const { return drive_ + "/Quillon.Log"; }

    static std::string readFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string readLog() const { return readFile(logPath()); }

    std::string drive_;
};
