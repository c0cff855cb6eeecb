// The three loader threads with requests that block on a latch: which queued requests
// run, in which order, what stopping does, and what a failing request or thread start
// leaves behind.
#include "R2IVuzi/J2KAbortRequest.h"
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "diagnostics/Logging.h"
#include "tests/R2IVuzi/NullObserver.h"

#include <boost/thread/exceptions.hpp>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// What ran, in order, and a latch that blocking requests wait on.
struct Journal {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> ran;
    bool open = false;

    void add(const std::string& name)
    {
        std::lock_guard<std::mutex> lock(mutex);
        ran.push_back(name);
        changed.notify_all();
    }
    void waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return ran.size() >= count; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    void waitOpen()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return open; });
    }
    std::vector<std::string> list()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ran;
    }
};

class Step : public CJ2KRequest {
public:
    Step(Journal& j, const std::string& n, bool block = false, bool fail = false)
        : CJ2KRequest(boost::shared_ptr<CJ2KObserver>(), boost::shared_ptr<CJ2KImage>()), journal(j), label(n),
          blocks(block), fails(fail)
    {
    }
    void Execute() override
    {
        journal.add(label);
        if (blocks) {
            journal.waitOpen();
            journal.add(label + " done");
        }
        if (fails)
            throw std::runtime_error("failed");
    }
    std::string name() const override { return label; }

    Journal& journal;
    std::string label;
    bool blocks, fails;
};

boost::shared_ptr<CJ2KRequest> step(Journal& j, const std::string& n, bool block = false, bool fail = false)
{
    return boost::shared_ptr<CJ2KRequest>(new Step(j, n, block, fail));
}

class RecordedKill : public CJ2KKillImageLoaderRequest {
public:
    RecordedKill(CJ2KImageLoader* loader, Journal& j, const std::string& n)
        : CJ2KKillImageLoaderRequest(loader), journal(j), label(n)
    {
    }
    void execute() override
    {
        CJ2KKillImageLoaderRequest::execute();
        journal.add(label);
    }
    Journal& journal;
    std::string label;
};

void endLoader(CJ2KImageLoader* loader)
{
    loader->quit();
    CJ2KKillImageLoaderRequest(loader).execute();
}

} // namespace

TEST(LoaderConcurrency, QueuesRunWhatTheyShould)
{
    {
        SCOPED_TRACE("image loader: a newer request replaces one not started");
        Journal j;
        CJ2KImageLoader* loader = new CJ2KImageLoader;
        loader->postRequest(step(j, "busy", true));
        j.waitFor(1);
        for (const char* n : {"first", "second", "third"})
            loader->postRequest(step(j, n));
        j.release();
        j.waitFor(3);
        endLoader(loader);
        EXPECT_EQ(j.list(), (std::vector<std::string>{"busy", "busy done", "third"}));
    }
    {
        SCOPED_TRACE("annotation loader: newest first");
        Journal j;
        CJ2KAnnotationLoader loader;
        loader.postRequest(step(j, "busy", true));
        j.waitFor(1);
        for (const char* n : {"A", "B", "C"})
            loader.postRequest(step(j, n));
        j.release();
        j.waitFor(5);
        loader.stop();
        EXPECT_EQ(j.list(), (std::vector<std::string>{"busy", "busy done", "C", "B", "A"}));
    }
    {
        SCOPED_TRACE("a throwing Execute leaves the workers serving");
        Journal j;
        j.release();
        CJ2KImageLoader* loader = new CJ2KImageLoader;
        CJ2KAnnotationLoader annotations;
        loader->postRequest(step(j, "throws", false, true));
        j.waitFor(1);
        loader->postRequest(step(j, "after"));
        j.waitFor(2);
        annotations.postRequest(step(j, "throws too", false, true));
        j.waitFor(3);
        annotations.postRequest(step(j, "after too"));
        j.waitFor(4);
        endLoader(loader);
        annotations.stop();
        EXPECT_EQ(j.list(), (std::vector<std::string>{"throws", "after", "throws too", "after too"}));
    }
}

TEST(LoaderConcurrency, StoppingAndKilling)
{
    {
        SCOPED_TRACE("the manager's stop runs the kills still queued");
        Journal j, kills;
        CJ2KImageLoaderMgr manager;
        CJ2KImageLoader* busy = new CJ2KImageLoader;
        busy->postRequest(step(j, "busy", true));
        j.waitFor(1);
        busy->quit();
        CJ2KImageLoader* idle[2] = {new CJ2KImageLoader, new CJ2KImageLoader};
        manager.postRequest(boost::shared_ptr<CJ2KKillImageLoaderRequest>(new RecordedKill(busy, kills, "busy")));
        for (int i = 0; i < 2; ++i) {
            idle[i]->quit();
            manager.postRequest(boost::shared_ptr<CJ2KKillImageLoaderRequest>(
                new RecordedKill(idle[i], kills, "idle" + std::to_string(i))));
        }
        std::thread stopper([&] { manager.stop(); });
        j.release();
        stopper.join();
        EXPECT_EQ(kills.list(), (std::vector<std::string>{"busy", "idle0", "idle1"}));
    }
    {
        SCOPED_TRACE("the annotation loader's stop drops its queue");
        Journal j;
        CJ2KAnnotationLoader loader;
        loader.postRequest(step(j, "busy", true));
        j.waitFor(1);
        loader.postRequest(step(j, "dropped"));
        std::thread stopper([&] { loader.stop(); });
        while (!loader.isStopping())
            std::this_thread::yield();
        j.release();
        stopper.join();
        EXPECT_EQ(j.list(), (std::vector<std::string>{"busy", "busy done"}));
    }
    {
        SCOPED_TRACE("a stop whose wait runs out leaves the thread its own state");
        Journal j;
        {
            CJ2KAnnotationLoader loader;
            loader.postRequest(step(j, "busy", true));
            j.waitFor(1);
            loader.postRequest(step(j, "dropped"));
            loader.stop(0);
        }
        j.release();
        // The thread finishes the request after its loader object is gone.
        j.waitFor(2);
        EXPECT_EQ(j.list(), (std::vector<std::string>{"busy", "busy done"}));
    }
    {
        SCOPED_TRACE("abort mode 1 ends the thread; the kill joins and deletes the loader");
        Journal j;
        CJ2KImageLoader* loader = new CJ2KImageLoader;
        boost::shared_ptr<CJ2KObserver> owner(new NullObserver(loader));
        loader->postRequest(boost::shared_ptr<CJ2KRequest>(new CJ2KAbortRequest(owner, 1, "target")));
        CJ2KImageLoaderMgr manager;
        manager.postRequest(boost::shared_ptr<CJ2KKillImageLoaderRequest>(new RecordedKill(loader, j, "killed")));
        j.waitFor(1);
        manager.stop();
    }
}

TEST(LoaderConcurrency, FailedThreadStart)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "orbel-loader-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    // The folder goes and the hook is put back however the test ends.
    struct Cleanup {
        std::string dir;
        ~Cleanup()
        {
            CJ2KImageLoader::s_beforeThreadStart = nullptr;
            std::error_code ignored;
            std::filesystem::remove_all(dir, ignored);
        }
    } cleanup{pattern};
    setenv("ORBEL_DRIVE_C", pattern.c_str(), 1);
    setMinLogLevel(0);
    initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
    CJ2KImageLoader::s_beforeThreadStart = [] { throw boost::thread_resource_error(); };
    try {
        CJ2KImageLoader loader;
        ADD_FAILURE() << "the loader started";
    } catch (const CJ2KCreateNewThreadException& e) {
        EXPECT_STREQ(e.what(), "Can't create new thread !");
        EXPECT_EQ(e.getLine(), 134);
        EXPECT_EQ(e.getSourceFile(), ".\\R2IVuzi\\J2KImageLoader");
        EXPECT_EQ(e.getContext(), "");
    }
    CJ2KImageLoader::s_beforeThreadStart = nullptr;
    closeLogFile();
    std::ifstream in(pattern + "/Quillon.Log", std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    EXPECT_NE(log.str().find("(133)] Exception happened in CJ2KImageLoader.start "), std::string::npos) << log.str();
    initLogFile(nullptr, 0, 1, 1);
    unsetenv("ORBEL_DRIVE_C");
}
