// The frame's worker for annotation-server requests: newest first, with its own libcurl
// handle.
#pragma once

#include "R2IVuzi/J2KRequestWorker.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <string>

class CJ2KRequest;
class JpipCurlHandle;

class CJ2KAnnotationLoader {
public:
    CJ2KAnnotationLoader();
    // Stops the thread; requests still queued are dropped.
    ~CJ2KAnnotationLoader();
    CJ2KAnnotationLoader(const CJ2KAnnotationLoader&) = delete;
    CJ2KAnnotationLoader& operator=(const CJ2KAnnotationLoader&) = delete;

    void postRequest(const boost::shared_ptr<CJ2KRequest>& request);
    // Waits at most waitSeconds (60 by default), then leaves the thread running on its
    // own, with what it uses. Called from a request on the loader's own thread (one that
    // held the last reference), the thread ends once that request returns.
    void stop(int waitSeconds = 60);

    // Cuts short the request running now (its reply then counts as not received).
    void interruptRunning();
    // Whether stop has been called.
    bool isStopping() const;

    std::string getServerAddress() const;
    void setServerAddress(const std::string& address);
    // The retry counter shared by the frame's grids.
    std::atomic<int>& retryCounter();
    // The loader thread's handle (null outside its thread's life); loader thread only.
    JpipCurlHandle* getCurl();

    struct State;

private:
    boost::shared_ptr<State> m_state;
    CJ2KRequestWorker m_worker;
};
