// Read by the thread sanitizer at start-up (unused otherwise). Boost.Regex hands the
// matcher's state blocks between threads through a lock-free cache compiled into
// libboost_regex, which the sanitizer does not see: a block one loader thread freed and
// another reused reads as a race. Only races inside the matcher's own frames are excused,
// named by file where the frames carry one and by namespace where they are inlined without.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:boost/regex/v4/perl_matcher_non_recursive.hpp\n"
           "race:boost::re_detail_\n";
}
