#include "runtime/MainThread.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "runtime/ExceptionDisplay.h"
#include "runtime/Exceptions.h"

namespace MainThread {

namespace {

struct TRequest {
    std::function<void()> Call;
    bool ReplyFirst = false; // taken = released, before the call runs
    bool Released = false;
    std::exception_ptr Error;
};

struct TQueue {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<std::shared_ptr<TRequest>> Requests;
    std::function<void()> WakeHook;
    std::thread::id Main = std::this_thread::get_id();
    uint64_t Notifications = 0;
};

TQueue& Queue()
{
    static TQueue queue;
    return queue;
}

// Forces the queue into being while the process starts, so the thread that
// runs static construction is the main thread by default.
[[maybe_unused]] const bool QueueMade = (Queue(), true);

void Release(TQueue& q, TRequest& r)
{
    std::lock_guard lock(q.Lock);
    r.Released = true;
    q.Changed.notify_all();
}

void Enqueue(TQueue& q, const std::shared_ptr<TRequest>& r)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(q.Lock);
        q.Requests.push_back(r);
        hook = q.WakeHook;
        q.Changed.notify_all();
    }
    if (hook) hook();
}

void WaitReleased(TQueue& q, const TRequest& r)
{
    std::unique_lock lock(q.Lock);
    q.Changed.wait(lock, [&] { return r.Released; });
}

} // namespace

void MakeCurrentThreadMain()
{
    std::lock_guard lock(Queue().Lock);
    Queue().Main = std::this_thread::get_id();
}

bool IsMainThread()
{
    std::lock_guard lock(Queue().Lock);
    return Queue().Main == std::this_thread::get_id();
}

void SetWakeHook(std::function<void()> Hook)
{
    std::lock_guard lock(Queue().Lock);
    Queue().WakeHook = std::move(Hook);
}

void Synchronize(const std::function<void()>& Call)
{
    if (IsMainThread()) {
        Call();
        return;
    }
    TQueue& q = Queue();
    auto request = std::make_shared<TRequest>();
    request->Call = Call;
    Enqueue(q, request);
    WaitReleased(q, *request);
    // Taken out under the lock, so the exception is owned here alone.
    std::exception_ptr error;
    {
        std::lock_guard lock(q.Lock);
        error = std::exchange(request->Error, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

void SendStep(std::function<void()> Step)
{
    TQueue& q = Queue();
    auto request = std::make_shared<TRequest>();
    request->Call = std::move(Step);
    request->ReplyFirst = true;
    if (IsMainThread()) {
        request->Released = true;
        try {
            request->Call();
        } catch (const std::exception& e) {
            ShowException(e);
        }
        return;
    }
    Enqueue(q, request);
    WaitReleased(q, *request);
}

bool CheckSynchronize(std::chrono::milliseconds Wait)
{
    TQueue& q = Queue();
    bool ran = false;
    for (;;) {
        std::shared_ptr<TRequest> request;
        {
            std::unique_lock lock(q.Lock);
            if (q.Requests.empty() && !ran && Wait.count() > 0)
                q.Changed.wait_for(lock, Wait, [&] { return !q.Requests.empty(); });
            if (q.Requests.empty()) return ran;
            request = q.Requests.front();
            q.Requests.pop_front();
        }
        ran = true;
        if (request->ReplyFirst) {
            Release(q, *request);
            try {
                request->Call();
            } catch (const std::exception& e) {
                ShowException(e);
            } catch (...) {
                ShowException(Exception("Unknown exception"));
            }
            continue;
        }
        std::exception_ptr error;
        try {
            request->Call();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(q.Lock);
            request->Error = std::move(error);
        }
        Release(q, *request);
    }
}

void WaitUntil(const std::function<bool()>& Done)
{
    TQueue& q = Queue();
    for (;;) {
        uint64_t seen = 0;
        {
            std::lock_guard lock(q.Lock);
            seen = q.Notifications;
        }
        CheckSynchronize();
        if (Done()) return;
        std::unique_lock lock(q.Lock);
        q.Changed.wait(lock, [&] { return !q.Requests.empty() || q.Notifications != seen; });
    }
}

void NotifyWaiters()
{
    std::lock_guard lock(Queue().Lock);
    ++Queue().Notifications;
    Queue().Changed.notify_all();
}

} // namespace MainThread
