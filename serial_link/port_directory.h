#pragma once

#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace relais {

// The devices behind COM 1 to COM 8 as last listed, for callers that must
// not wait on the system (asking it takes milliseconds). A list older than
// `maxAge` is refreshed on a thread of its own while the old one is
// served; only the very first call waits for a list.
class PortDirectory {
public:
    using Clock = std::chrono::steady_clock;
    using Lister = std::function<QStringList()>;
    using Now = std::function<Clock::time_point()>;
    explicit PortDirectory(Lister lister,
                           std::chrono::milliseconds maxAge = std::chrono::seconds(5),
                           Now now = Clock::now);
    ~PortDirectory();
    PortDirectory(const PortDirectory&) = delete;
    PortDirectory& operator=(const PortDirectory&) = delete;

    QStringList devices();

private:
    void run();

    Lister lister_;
    std::chrono::milliseconds maxAge_;
    Now now_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable listed_;
    QStringList devices_;
    Clock::time_point listedAt_;
    bool everListed_ = false;
    bool wanted_ = false;
    bool refreshing_ = false;
    bool ending_ = false;
    std::thread refresher_;
};

} // namespace relais
