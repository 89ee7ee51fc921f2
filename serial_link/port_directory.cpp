#include "port_directory.h"

namespace relais {

PortDirectory::PortDirectory(Lister lister, std::chrono::milliseconds maxAge, Now now)
    : lister_(std::move(lister)), maxAge_(maxAge), now_(std::move(now)),
      refresher_([this] { run(); }) {}

PortDirectory::~PortDirectory() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    wake_.notify_all();
    refresher_.join();
}

QStringList PortDirectory::devices() {
    std::unique_lock lock(mutex_);
    // (One refresh at a time: while one runs, its list is the fresh one.)
    if (!refreshing_ && (!everListed_ || now_() - listedAt_ >= maxAge_)) {
        wanted_ = true;
        wake_.notify_all();
    }
    listed_.wait(lock, [this] { return everListed_ || ending_; });
    return devices_;
}

void PortDirectory::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        // Asleep until someone wants a fresher list: no polling.
        wake_.wait(lock, [this] { return wanted_ || ending_; });
        if (ending_) {
            return;
        }
        wanted_ = false;
        refreshing_ = true;
        lock.unlock();
        QStringList devices = lister_();
        lock.lock();
        devices_ = std::move(devices);
        listedAt_ = now_();
        everListed_ = true;
        refreshing_ = false;
        listed_.notify_all();
    }
}

} // namespace relais
