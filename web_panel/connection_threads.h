#pragma once

#include "guarded_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace relais::web {

inline constexpr int kMaxConnections = 64;

// One thread per connection up to 64; the connections beyond are answered
// 503 at once, unread, on the accepting thread: nothing queues. A
// connection's place is free before its client sees it end. At shutdown,
// threads still held by a client after the deadline are left to end by
// themselves: they keep what they use alive (`keep`), so the program never
// waits on a slow client.
class ConnectionThreads : public httplib::TaskQueue {
public:
    using Clock = std::chrono::steady_clock;
    // `leaveBy`: until when shutdown waits for clients, kept alive by `keep`.
    ConnectionThreads(std::shared_ptr<void> keep, const std::atomic<Clock::rep>& leaveBy)
        : state_(std::make_shared<State>()), keep_(std::move(keep)), leaveBy_(leaveBy) {}

    void enqueue(std::function<void()> job) override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->busy < kMaxConnections) {
                ++state_->busy;
                state_->jobs.push_back(std::move(job));
                // Each idle thread takes one job, and so does each that is
                // closing its connection; one woken for an earlier job still
                // counts as idle until it has taken it. A job beyond them
                // gets a thread of its own (else it would wait behind a slow
                // client's connection).
                if (state_->jobs.size() > std::size_t(state_->idle + state_->closing)) {
                    ++state_->running;
                    state_->threads.emplace_back(run, state_, keep_);
                }
                state_->wake.notify_one();
                return;
            }
        }
        GuardedServer::refuseOnThisThread(true);
        job();
        GuardedServer::refuseOnThisThread(false);
    }

    void shutdown() override {
        std::unique_lock lock(state_->mutex);
        state_->stopping = true;
        state_->wake.notify_all();
        const auto deadline = Clock::time_point(Clock::duration(leaveBy_.load()));
        const bool ended =
            state_->ended.wait_until(lock, deadline, [this] { return state_->running == 0; });
        for (std::thread& thread : state_->threads) {
            ended ? thread.join() : thread.detach();
        }
        state_->threads.clear();
        if (!ended) {
            // What the threads left behind use is never freed: freeing it on
            // their way out could meet the program's own end.
            new std::shared_ptr<void>(keep_);
        }
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        std::deque<std::function<void()>> jobs;
        std::vector<std::thread> threads;
        int idle = 0;
        int busy = 0;    // places taken by connections
        int closing = 0; // threads whose connection has freed its place
        int running = 0;
        bool stopping = false;
    };

    static void run(std::shared_ptr<State> state, std::shared_ptr<void> keep) {
        std::unique_lock lock(state->mutex);
        for (;;) {
            ++state->idle;
            state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            --state->idle;
            if (state->jobs.empty()) {
                break;
            }
            std::function<void()> job = std::move(state->jobs.front());
            state->jobs.pop_front();
            bool freed = false;
            GuardedServer::setFreePlace([&state, &freed] {
                std::lock_guard freeing(state->mutex);
                freed = true;
                --state->busy;
                ++state->closing;
            });
            lock.unlock();
            job();
            job = nullptr;
            GuardedServer::setFreePlace(nullptr);
            lock.lock();
            if (freed) {
                --state->closing;
            } else {
                --state->busy;
            }
        }
        --state->running;
        state->ended.notify_all();
        lock.unlock();
        keep.reset();
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<void> keep_;
    const std::atomic<Clock::rep>& leaveBy_;
};

} // namespace relais::web
