// Errors and warnings raised on many threads at once reach the installed handlers whole:
// each message arrives exactly as it does when raised alone, never interleaved with
// another (the line formatter in between keeps state across pieces).
#include "codec/core/rvd_message.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Collects whole messages; as an error sink it throws when a message ends.
struct collector : rvd_message {
    explicit collector(bool throws) : throws(throws) {}
    void put_text(const char* t) override { current += t; }
    void flush(bool end) override
    {
        if (!end)
            return;
        done.push_back(current);
        current.clear();
        if (throws)
            throw done.back();
    }
    bool throws;
    std::string current;
    std::vector<std::string> done;
};

void raise_pair(int t, int i)
{
    const std::string tail(40 + (i % 7) * 9, char('a' + t));
    try {
        rvd_error e("Ravade Core Error:\n");
        e << "thread " << t << " error " << i << " with a text long enough to be wrapped by the "
          << "line formatter " << tail.c_str();
    } catch (const std::string&) {
    }
    rvd_warning w("Ravade Core Warning:\n");
    w << "thread " << t << " warning " << i << "\t" << tail.c_str() << " " << unsigned(i * 31);
}

TEST(CodecMessageConcurrency, MessagesFromEightThreadsArriveWhole)
{
    collector errors(true), warnings(false);
    rvd_message_formatter error_lines(&errors), warning_lines(&warnings);
    rvd_message* old_errors = rvd_customize_errors(&error_lines);
    rvd_message* old_warnings = rvd_customize_warnings(&warning_lines);

    for (int t = 0; t < 8; t++)
        for (int i = 0; i < 100; i++)
            raise_pair(t, i);
    std::vector<std::string> alone = errors.done;
    alone.insert(alone.end(), warnings.done.begin(), warnings.done.end());
    errors.done.clear();
    warnings.done.clear();

    boost::thread_group threads;
    for (int t = 0; t < 8; t++)
        threads.create_thread([t] {
            for (int i = 0; i < 100; i++)
                raise_pair(t, i);
        });
    threads.join_all();
    std::vector<std::string> together = errors.done;
    together.insert(together.end(), warnings.done.begin(), warnings.done.end());
    rvd_customize_errors(old_errors);
    rvd_customize_warnings(old_warnings);

    ASSERT_EQ(alone.size(), 1600u);
    std::sort(alone.begin(), alone.end());
    std::sort(together.begin(), together.end());
    EXPECT_TRUE(together == alone);
}

} // namespace
