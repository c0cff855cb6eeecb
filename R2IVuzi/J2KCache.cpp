#include "R2IVuzi/J2KCache.h"

CJ2KCache::CJ2KCache() {}

// The base destructor's close then runs with the base's empty hooks: the image's owner
// guarantees that no other thread holds the cache by then.
CJ2KCache::~CJ2KCache() {}

void CJ2KCache::acquire_lock()
{
    m_mutex.lock();
}

void CJ2KCache::release_lock()
{
    m_mutex.unlock();
}
