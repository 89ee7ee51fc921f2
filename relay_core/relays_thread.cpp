#include "relays_thread.h"

namespace relais {

RelaysThread::RelaysThread(QObject* owner) {
    state_->owner = owner;
}

bool RelaysThread::post(std::function<void()> job) {
    std::lock_guard lock(state_->mutex);
    if (state_->ended) {
        return false;
    }
    // Queued: whatever thread asks, the job runs where the relays live, and
    // not at all should the owner go first.
    QMetaObject::invokeMethod(
        state_->owner,
        [state = state_, job = std::move(job)] {
            {
                std::lock_guard lock(state->mutex);
                if (state->ended) {
                    return;
                }
            }
            job();
        },
        Qt::QueuedConnection);
    return true;
}

void RelaysThread::end() {
    {
        std::lock_guard lock(state_->mutex);
        state_->ended = true;
    }
    state_->finished.notify_all();
}

} // namespace relais
