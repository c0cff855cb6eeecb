// Each loader ended from a request running on its own thread, a thousand times over: the
// thread never joins itself, is left to end once the request returns, and nothing it
// touches afterwards is freed under it.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KRequest.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace {

constexpr int kRounds = 1000;

// Counts finished requests; outlives every loader thread, which may still be unwinding
// when a test returns.
struct Finished {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    int good = 0;

    void add(bool ok)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++count;
        good += ok ? 1 : 0;
        changed.notify_all();
    }
    void waitFor(int n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return count >= n; });
    }
};

Finished& finished()
{
    static Finished* f = new Finished; // never destroyed: detached threads may still hold it
    return *f;
}

class Call : public CJ2KRequest {
public:
    explicit Call(std::function<bool()> body)
        : CJ2KRequest(boost::shared_ptr<CJ2KObserver>(), boost::shared_ptr<CJ2KImage>()), body(std::move(body))
    {
    }
    void Execute() override { finished().add(body()); }
    std::string name() const override { return "self stop"; }

private:
    std::function<bool()> body;
};

boost::shared_ptr<CJ2KRequest> call(std::function<bool()> body)
{
    return boost::shared_ptr<CJ2KRequest>(new Call(std::move(body)));
}

} // namespace

TEST(SelfStopConcurrency, ImageLoaderJoinedAndDeletedByItsOwnRequest)
{
    Finished& f = finished();
    const int start = f.count;
    for (int i = 0; i < kRounds; ++i) {
        CJ2KImageLoader* loader = new CJ2KImageLoader;
        // What the kill request does, on the loader's own thread (abort mode 1, then kill).
        loader->postRequest(call([loader] {
            loader->quit();
            bool joined = true;
            try {
                loader->join();
            } catch (...) {
                joined = false;
            }
            delete loader;
            return joined;
        }));
        f.waitFor(start + i + 1);
    }
    EXPECT_EQ(f.good - start, kRounds);
}

TEST(SelfStopConcurrency, AnnotationLoaderReleasedByItsOwnRequest)
{
    Finished& f = finished();
    const int startCount = f.count, startGood = f.good;
    for (int i = 0; i < kRounds; ++i) {
        boost::shared_ptr<CJ2KAnnotationLoader> loader(new CJ2KAnnotationLoader);
        boost::shared_ptr<CJ2KAnnotationLoader> held = loader;
        // The request holds the last reference: releasing it stops the loader from its thread.
        loader->postRequest(call([held]() mutable {
            held.reset();
            return true;
        }));
        loader.reset();
        f.waitFor(startCount + i + 1);
    }
    EXPECT_EQ(f.good - startGood, kRounds);
}

TEST(SelfStopConcurrency, AnnotationLoaderStoppedFromItsThreadDropsTheRest)
{
    Finished& f = finished();
    const int startCount = f.count, startGood = f.good;
    for (int i = 0; i < kRounds; ++i) {
        CJ2KAnnotationLoader loader;
        CJ2KAnnotationLoader* self = &loader;
        loader.postRequest(call([self] {
            self->stop();
            // Posted after the stop: dropped, never run.
            self->postRequest(call([] { return false; }));
            return self->isStopping();
        }));
        f.waitFor(startCount + i + 1);
        loader.stop();
    }
    EXPECT_EQ(f.count - startCount, kRounds);
    EXPECT_EQ(f.good - startGood, kRounds);
}
