// The frame's worker that joins and deletes the image loaders of closed grids, first in,
// first out, off the user-interface thread.
#pragma once

#include <boost/shared_ptr.hpp>

class CJ2KKillImageLoaderRequest;

class CJ2KImageLoaderMgr {
public:
    CJ2KImageLoaderMgr();
    // Stops the thread.
    ~CJ2KImageLoaderMgr();
    CJ2KImageLoaderMgr(const CJ2KImageLoaderMgr&) = delete;
    CJ2KImageLoaderMgr& operator=(const CJ2KImageLoaderMgr&) = delete;

    void postRequest(const boost::shared_ptr<CJ2KKillImageLoaderRequest>& request);
    // Runs every queued request, then ends the thread; waits at most waitSeconds (90 by
    // default) and then leaves the thread running on its own, with what it uses.
    void stop(int waitSeconds = 90);

    struct State;

private:
    boost::shared_ptr<State> m_state;
};
