// The viewer's data-bin cache: rvd_cache with a real lock, so that the loader thread's
// writes and the user-interface thread's reads exclude each other.
#pragma once

#include "codec/jp2/rvd_cache.h"

#include <boost/thread/mutex.hpp>

class CJ2KCache : public rvd_cache {
public:
    CJ2KCache();
    ~CJ2KCache() override;

    void acquire_lock() override;
    void release_lock() override;

private:
    // Not recursive: no cache operation calls another public one while holding it.
    boost::timed_mutex m_mutex;
};
