#pragma once

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace relais {

// Work handed to the thread that owns the relays (the thread of `owner`)
// from any other: the broker's network thread, the web server's threads.
// Once the owner has ended it, every hand-off is refused at once and every
// caller still waiting gives up.
class RelaysThread {
public:
    explicit RelaysThread(QObject* owner);
    RelaysThread(const RelaysThread&) = delete;
    RelaysThread& operator=(const RelaysThread&) = delete;

    // Runs `job` there later; false once ended.
    bool post(std::function<void()> job);
    // Runs `job` there and waits up to `patience` for its result; nothing
    // once ended or when the time is up.
    template <class T>
    std::optional<T> call(std::function<T()> job, std::chrono::milliseconds patience);
    // On the owner's thread, before it goes: nothing more runs there.
    void end();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable finished;
        QObject* owner = nullptr;
        bool ended = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

template <class T>
std::optional<T> RelaysThread::call(std::function<T()> job, std::chrono::milliseconds patience) {
    struct Outcome {
        std::optional<T> value;
        bool done = false;
    };
    auto outcome = std::make_shared<Outcome>();
    const bool posted = post([state = state_, job = std::move(job), outcome] {
        T value = job();
        {
            std::lock_guard lock(state->mutex);
            outcome->value = std::move(value);
            outcome->done = true;
        }
        state->finished.notify_all();
    });
    if (!posted) {
        return std::nullopt;
    }
    std::unique_lock lock(state_->mutex);
    state_->finished.wait_for(lock, patience, [&] { return outcome->done || state_->ended; });
    return outcome->done ? outcome->value : std::nullopt;
}

} // namespace relais
