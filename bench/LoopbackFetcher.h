// A whole-image fetch over the loopback server with no window and no decoding: the
// stream's own time, for the benchmarks that set a viewer's road beside it.
#pragma once

#include "R2IVuzi/J2KCommenceRequest.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "R2IVuzi/J2KUpdateServerModelRequest.h"
#include "tests/R2IVuzi/NullObserver.h"

#include <boost/enable_shared_from_this.hpp>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>

// Runs the requests without windows: the start notice posts the model update, the end
// notice wakes the waiting thread.
class LoopbackFetcher : public NullObserver, public boost::enable_shared_from_this<LoopbackFetcher> {
public:
    LoopbackFetcher(const std::string& target, const int32_t window[5])
        : NullObserver(new CJ2KImageLoader), image(new CJ2KImage(target, "uid", nullptr))
    {
        std::copy(window, window + 5, this->window);
    }
    ~LoopbackFetcher() override
    {
        loader->quit();
        CJ2KKillImageLoaderRequest(loader).execute();
    }
    bool run()
    {
        loader->postRequest(boost::shared_ptr<CJ2KRequest>(new CJ2KCommenceRequest(shared_from_this(), image, false)));
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ended; });
        return ok;
    }
    void startProcess(const std::string&) override
    {
        loader->postRequest(boost::shared_ptr<CJ2KRequest>(
            new CJ2KUpdateServerModelRequest(shared_from_this(), image, window, std::string())));
    }
    void dataArrived(const std::string&, const int region[5]) override { finish(region[0] >= 0); }
    void reportError(int, std::unique_ptr<CJ2KException>) override { finish(false); }
    void finish(bool good)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
        ok = ok && good;
        changed.notify_all();
    }

    boost::shared_ptr<CJ2KImage> image;
    int32_t window[5];
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false, ok = true;
};
