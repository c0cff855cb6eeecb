// One grid's worker thread for the JPIP requests of its image, and the image's JPIP
// channel. A single pending slot: a newer request replaces one that has not started.
#pragma once

#include "R2IVuzi/J2KRequestWorker.h"
#include "R2IVuzi/JpipHttp.h"

#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include <atomic>
#include <functional>
#include <string>

class CJ2KRequest;
class CJpipParser;
class rvd_region_decompressor;
class rvd_stripe_decompressor;

class CJ2KImageLoader {
public:
    // Starts the thread; CJ2KCreateNewThreadException when it cannot.
    CJ2KImageLoader();
    // Also closes a channel still held. Join the thread first; a thread still running is
    // told to quit and left to end on its own.
    ~CJ2KImageLoader();
    CJ2KImageLoader(const CJ2KImageLoader&) = delete;
    CJ2KImageLoader& operator=(const CJ2KImageLoader&) = delete;

    // A request still waiting in the slot is released unrun. Posting an abort or a
    // commence also interrupts the request running now.
    void postRequest(const boost::shared_ptr<CJ2KRequest>& request);
    bool isReady();
    void setReady(bool ready);
    std::string getChannelId();
    void setChannelId(const std::string& cid);
    // Loader thread only.
    const std::string& getChannelPath() const { return m_path; }
    void setChannelPath(const std::string& path) { m_path = path; }
    JpipCurlHandle& getChannelHandle() { return m_channel; }
    // Releases the handle and empties cid and path.
    void closeChannel();
    boost::shared_ptr<CJpipParser> getParser() const { return m_parser; }
    boost::shared_ptr<rvd_region_decompressor> getRegionDecompressor() const { return m_region; }
    boost::shared_ptr<rvd_stripe_decompressor> getStripeDecompressor() const { return m_stripe; }
    // Ends the thread after the request it runs (abort mode 1).
    void quit();
    // Waits without limit for the thread to end; from the loader's own thread, leaves it to
    // end once its request returns.
    void join();

    // Interruption of the running request.
    bool isInterrupted() const { return m_worker.isInterrupted(); }
    // What the loader's transfers watch, so an abort or a newer commence (and so a release)
    // does not wait for a stalled server.
    const std::atomic<bool>* cancelFlag() const { return m_worker.interruptFlag(); }
    void clearInterrupt() { m_worker.clearInterrupt(); }
    // Waits up to ms milliseconds; true when interrupted meanwhile.
    bool waitInterruptible(int ms) { return m_worker.waitInterruptible(ms); }

    // Test hook: runs before the thread is made; may throw boost::thread_resource_error.
    static std::function<void()> s_beforeThreadStart;

private:
    void start();

    CJ2KRequestWorker m_worker{CJ2KRequestWorker::ReplacePending};
    boost::mutex m_mutex; // ready flag and channel id
    boost::shared_ptr<CJpipParser> m_parser;
    boost::shared_ptr<rvd_region_decompressor> m_region;
    boost::shared_ptr<rvd_stripe_decompressor> m_stripe;
    JpipCurlHandle m_channel;
    std::string m_path;
    std::string m_cid;
    bool m_ready = false;
};
