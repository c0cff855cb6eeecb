// The thread behind each of the viewer's two loaders: requests served one at a time from a
// queue, a quit flag, start and stop, and an interruption flag for the request running.
// Everything the thread touches lives in a state shared with it, so a thread left running
// (stopped from one of its own requests, or after a wait that ran out) never touches freed
// memory; a thread never joins itself.
#pragma once

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <functional>

class CJ2KRequest;

class CJ2KRequestWorker {
public:
    enum Order {
        // One slot: a newer request replaces one not started; after quit the slot still runs.
        ReplacePending,
        // A stack: the newest waiting request runs next; quit drops what waits.
        NewestFirst
    };
    // Run on the worker's thread before its first request and after its last.
    struct Hooks {
        std::function<void()> begin, end;
    };

    explicit CJ2KRequestWorker(Order order, Hooks hooks = Hooks());
    // Quits and leaves a running thread to end on its own.
    ~CJ2KRequestWorker();
    CJ2KRequestWorker(const CJ2KRequestWorker&) = delete;
    CJ2KRequestWorker& operator=(const CJ2KRequestWorker&) = delete;

    // Makes the thread; boost::thread_resource_error when it cannot.
    void start();
    // A request that interruptsRunning() also interrupts the one running now.
    void post(const boost::shared_ptr<CJ2KRequest>& request);
    void quit();
    bool quitting() const;
    // Whether the caller runs on the worker's thread.
    bool onOwnThread() const;
    // Waits for the thread to end, without limit when waitSeconds < 0. From the worker's own
    // thread, or when the wait runs out, the thread is left to end by itself: false then.
    bool join(int waitSeconds = -1);
    // quit, then join.
    bool stop(int waitSeconds = -1) { quit(); return join(waitSeconds); }

    bool isInterrupted() const;
    // The flag behind isInterrupted, for a transfer to watch; it lives as long as the
    // worker or its thread. quit sets it too, so a stop cuts the running request short.
    const std::atomic<bool>* interruptFlag() const;
    void clearInterrupt();
    // Interrupts the request running now; the next one starts uninterrupted.
    void interrupt();
    // Waits up to ms milliseconds; true when interrupted meanwhile.
    bool waitInterruptible(int ms);

    struct State;

private:
    boost::shared_ptr<State> m_state;
};
