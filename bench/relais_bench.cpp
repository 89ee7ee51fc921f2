// Measures the running program on a pseudo-terminal standing in for the
// unit: tick timing, click-to-wire latency, start-up and memory, CPU, a
// stalled line and a vanished line. Prints one table per measurement.
//
//   relais_bench [--quick] [--startup-form PATH --startup-minimal PATH]
//                [--program RELAISKARTE]
//
// Run it under a session bus of its own (dbus-run-session) for the D-Bus figures.

#include "expose_probe.h"
#ifdef RELAIS_HAVE_DBUS
#include "bus_names.h"

#include <QDBusConnection>
#include <QDBusMessage>
#endif
#include "messages.h"
#include "relay_window.h"
#include "window_layout.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace relais;

namespace {

double ms(long long ns) {
    return double(ns) / 1e6;
}

long long threadCpuNs() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000000LL +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1000LL;
}

long rssKb() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

void runFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    const size_t i = size_t(std::ceil(p * double(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

struct Arrival {
    long long ns;
    std::string frame;
};

// The unit: reads the line on its own thread and stamps every whole frame.
class FarEnd {
public:
    FarEnd() {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        path_ = QString::fromLocal8Bit(name);
        reader_ = std::thread([this] { run(); });
    }
    ~FarEnd() { vanish(); }

    const QString& path() const { return path_; }
    void pause(bool paused) { paused_ = paused; }
    void vanish() {
        stop_ = true;
        if (reader_.joinable()) {
            reader_.join();
        }
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    std::vector<Arrival> arrivals() {
        std::lock_guard lock(mutex_);
        return arrivals_;
    }
    size_t malformed() {
        std::lock_guard lock(mutex_);
        return malformed_;
    }

private:
    void run() {
        char buf[4096];
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (paused_ || ::poll(&p, 1, 5) <= 0) {
                if (paused_) {
                    ::usleep(5000);
                }
                continue;
            }
            const ssize_t n = ::read(master_, buf, sizeof buf);
            const long long now = monotonicNs();
            std::lock_guard lock(mutex_);
            for (ssize_t i = 0; i < n; ++i) {
                partial_ += buf[i];
                if (partial_.size() == 5) {
                    if (partial_.find_first_not_of("0123456789") != std::string::npos) {
                        ++malformed_;
                    }
                    arrivals_.push_back({now, partial_});
                    partial_.clear();
                }
            }
        }
    }

    int master_ = -1;
    QString path_;
    std::thread reader_;
    std::atomic<bool> paused_{false};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Arrival> arrivals_;
    std::string partial_;
    size_t malformed_ = 0;
};

struct StampedMessages : MessagePresenter {
    std::vector<long long> at;
    QStringList texts;
    void showMessage(const QString& text, const QString&) override {
        at.push_back(monotonicNs());
        texts << text;
    }
};

// The window on "COM 1", which is the far end's pseudo-terminal.
struct Rig {
    FarEnd far;
    FixedPortResolver resolver{{{1, far.path()}}};
    StampedMessages messages;
    RelayWindow window{resolver, &messages};

    Rig() {
        window.show();
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("Combo1"));
        QTest::keyClick(combo, Qt::Key_Down); // "COM 1"
    }
    QPushButton* button(const char* name) {
        return window.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    bool running() { return window.findChild<QTimer*>(QStringLiteral("Timer1"))->isActive(); }
};

void row(const char* what, const QString& value) {
    std::printf("| %-44s | %22s |\n", what, qPrintable(value));
}
void header(const char* title) {
    std::printf("\n### %s\n\n| %-44s | %22s |\n|%s|%s|\n", title, "figure", "value",
                std::string(46, '-').c_str(), std::string(24, '-').c_str());
}
QString num(double v, int decimals = 2) {
    return QString::number(v, 'f', decimals);
}

double runningCpuPerMinute = NAN;

// How evenly frames arrived, against one every 100 ms.
void periodRows(const std::vector<Arrival>& a, long expected) {
    std::vector<double> deviation;
    for (size_t i = 1; i < a.size(); ++i) {
        deviation.push_back(std::abs(ms(a[i].ns - a[i - 1].ns) - 100.0));
    }
    const double span = a.size() > 1 ? ms(a.back().ns - a.front().ns) : 0;
    row("frames received / expected", QStringLiteral("%1 / %2").arg(a.size()).arg(expected));
    row("period deviation from 100 ms, median (ms)", num(percentile(deviation, 0.5), 3));
    row("period deviation, p99 (ms)", num(percentile(deviation, 0.99), 3));
    row("period deviation, maximum (ms)", num(percentile(deviation, 1.0), 3));
    row("drift over the run (ms)", num(span - 100.0 * double(a.size() - 1), 3));
}

void tickTiming(int seconds) {
    Rig r;
    r.click("Command19");
    const long long cpu0 = threadCpuNs();
    runFor(seconds * 1000);
    const long long cpu1 = threadCpuNs();
    r.click("Command19");
    runningCpuPerMinute = ms(cpu1 - cpu0) * 60.0 / seconds;

    header(qPrintable(QStringLiteral("1. Tick timing (%1 s running)").arg(seconds)));
    periodRows(r.far.arrivals(), seconds * 1000 / kTickInterval);
    row("frames not five digits", QString::number(r.far.malformed()));
}

void clickLatency(int clicks) {
    Rig r;
    r.click("Command19");
    runFor(300);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(150, 350);
    std::vector<std::pair<long long, std::string>> sent; // click time, frame expected
    bool on = false;
    for (int i = 0; i < clicks; ++i) {
        runFor(pause(random));
        on = !on;
        sent.emplace_back(monotonicNs(), on ? "00001" : "00000");
        r.click("Command3");
    }
    runFor(300);
    r.click("Command19");
    const auto a = r.far.arrivals();
    std::vector<double> latency;
    size_t missed = 0;
    for (const auto& [t, frame] : sent) {
        const auto it = std::find_if(
            a.begin(), a.end(), [&](const Arrival& x) { return x.ns > t && x.frame == frame; });
        if (it == a.end()) {
            ++missed;
        } else {
            latency.push_back(ms(it->ns - t));
        }
    }
    header(qPrintable(QStringLiteral("2. Click-to-wire latency (%1 clicks)").arg(clicks)));
    row("median (ms)", num(percentile(latency, 0.5)));
    row("p99 (ms)", num(percentile(latency, 0.99)));
    row("maximum (ms)", num(percentile(latency, 1.0)));
    row("bound: one tick + 5.2 ms line time (ms)", num(105.2, 1));
    row("clicks never seen on the wire", QString::number(missed));
}

struct StartRun {
    double ms;
    long maxRssKb;
};

StartRun startOnce(const QString& program) {
    int out[2];
    if (::pipe(out) != 0) {
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const QByteArray path = program.toLocal8Bit();
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    pid_t pid = 0;
    const long long t0 = monotonicNs();
    if (posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(1);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0) {
        text.append(buf, size_t(n));
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    long long shown = 0;
    long peakKb = 0;
    if (std::sscanf(text.c_str(), "shown %lld %ld", &shown, &peakKb) != 2) {
        std::fprintf(stderr, "%s did not report its window\n", qPrintable(program));
        std::exit(1);
    }
    return {ms(shown - t0), peakKb};
}

void startup(const QString& formProgram, const QString& minimalProgram, int runs) {
    std::vector<double> formMs, minimalMs;
    std::vector<double> formRss, minimalRss;
    for (int i = 0; i < runs; ++i) {
        const StartRun f = startOnce(formProgram);
        const StartRun m = startOnce(minimalProgram);
        formMs.push_back(f.ms);
        formRss.push_back(double(f.maxRssKb));
        minimalMs.push_back(m.ms);
        minimalRss.push_back(double(m.maxRssKb));
    }
    const double fm = percentile(formMs, 0.5), mm = percentile(minimalMs, 0.5);
    const double fr = percentile(formRss, 0.5), mr = percentile(minimalRss, 0.5);
    header(qPrintable(QStringLiteral("3. Start-up and memory (median of %1 starts, platform %2)")
                          .arg(runs)
                          .arg(QGuiApplication::platformName())));
    row("start to window shown, this program (ms)", num(fm, 1));
    row("start to window shown, empty Qt window (ms)", num(mm, 1));
    row("ratio", num(fm / mm));
    row("peak RSS, this program (MiB)", num(fr / 1024.0, 1));
    row("peak RSS, empty Qt window (MiB)", num(mr / 1024.0, 1));
    row("ratio", num(fr / mr));
}

void cpu(int stoppedSeconds) {
    Rig r;
    const long long cpu0 = threadCpuNs();
    runFor(stoppedSeconds * 1000);
    const long long cpu1 = threadCpuNs();
    header("4. CPU time of the user-interface thread");
    row("while the link runs (ms per minute)", num(runningCpuPerMinute));
    row("while the link is stopped (ms per minute)", num(ms(cpu1 - cpu0) * 60.0 / stoppedSeconds));
    row("timer running while stopped", r.running() ? QStringLiteral("yes") : QStringLiteral("no"));
}

void stalledLine(int seconds) {
    Rig r;
    r.click("Command19");
    runFor(500);
    r.far.pause(true);
    const long rss0 = rssKb();
    long rssMax = rss0;
    qint64 queuedMax = 0;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        queuedMax = std::max(queuedMax, r.window.serial().bytesQueued());
        rssMax = std::max(rssMax, rssKb());
    });
    sampler.start(20);
    runFor(seconds * 500);
    r.click("Command7"); // the pattern changes during the stall: relay 5
    runFor(seconds * 500);
    sampler.stop();
    const long rss1 = rssKb();
    const size_t before = r.far.arrivals().size();
    const long long resumed = monotonicNs();
    r.far.pause(false);
    runFor(1000);
    r.click("Command19");
    const auto a = r.far.arrivals();
    std::string first = a.size() > before ? a[before].frame : std::string("-");
    size_t stale = 0;
    double current = NAN;
    for (size_t i = before; i < a.size(); ++i) {
        if (a[i].frame == "00016") {
            current = ms(a[i].ns - resumed);
            break;
        }
        ++stale;
    }
    header(qPrintable(
        QStringLiteral("5. Stalled line (far end reads nothing for %1 s)").arg(seconds)));
    row("most bytes queued in this process", QString::number(queuedMax));
    row("RSS before / after / highest (KiB)",
        QStringLiteral("%1 / %2 / %3").arg(rss0).arg(rss1).arg(rssMax));
    row("first whole frame after reading resumes", QString::fromStdString(first));
    row("current pattern", QStringLiteral("00016"));
    row("stale frames delivered before it", QString::number(stale));
    row("time to the current pattern (ms)", num(current, 1));
    row("frames not five digits", QString::number(r.far.malformed()));
}

void vanishedLine() {
    Rig r;
    r.click("Command19");
    runFor(1000);
    const long long t0 = monotonicNs();
    const long long cpu0 = threadCpuNs();
    r.far.vanish();
    for (int i = 0; i < 500 && r.messages.at.empty(); ++i) {
        runFor(10);
    }
    const long long cpu1 = threadCpuNs();
    header("6. Vanished line (far end closed mid-run)");
    row("time until stopped and message up (ms)",
        r.messages.at.empty() ? QStringLiteral("never") : num(ms(r.messages.at[0] - t0), 1));
    row("CPU used meanwhile (ms)", num(ms(cpu1 - cpu0), 2));
    row("messages shown", QString::number(r.messages.texts.size()));
    row("link stopped (timer off, port closed)", (!r.running() && !r.window.serial().isOpen())
                                                     ? QStringLiteral("yes")
                                                     : QStringLiteral("no"));
    runFor(1000);
    row("messages one second later", QString::number(r.messages.texts.size()));
}

// The real program from a script: one-shot runs of the command line, and
// relays switched over D-Bus in a running window, each timed to the frame
// that carries it at the far end.
void scripts(const QString& program, int runs) {
    header("7. Scripts driving the real program");
    FarEnd far;
    std::vector<double> oneShot;
    size_t delivered = 0;
    for (int i = 0; i < runs; ++i) {
        const std::string frame = QByteArray::number(1000 + i).rightJustified(5, '0').toStdString();
        const size_t before = far.arrivals().size();
        const long long t0 = monotonicNs();
        QProcess p;
        p.start(program, {"--port", far.path(), "--mask", QString::fromStdString(frame)});
        p.waitForFinished(10000);
        oneShot.push_back(ms(monotonicNs() - t0));
        runFor(20);
        const auto a = far.arrivals();
        delivered += a.size() == before + 1 && a.back().frame == frame && p.exitCode() == 0;
    }
    row("one-shot run, start to exit (ms, median)", num(percentile(oneShot, 0.5), 1));
    row("one-shot run, start to exit (ms, max)", num(percentile(oneShot, 1.0), 1));
    row("one-shot runs delivering exactly their frame",
        QStringLiteral("%1 / %2").arg(delivered).arg(runs));

    // --hold keeps sending on its own timer until SIGTERM.
    FarEnd holdEnd;
    QProcess hold;
    hold.start(program, {"--port", holdEnd.path(), "--mask", "4", "--hold"});
    const int holdSeconds = std::max(2, runs / 5);
    runFor(holdSeconds * 1000 + 50);
    ::kill(pid_t(hold.processId()), SIGTERM);
    hold.waitForFinished(10000);
    const auto held = holdEnd.arrivals();
    std::printf("\n--hold for %d s:\n", holdSeconds);
    periodRows(held, holdSeconds * 10 + 1); // the first frame goes at once
    row("--hold ended on SIGTERM with", QString::number(hold.exitCode()));
    row("frames not 00004",
        QString::number(std::count_if(held.begin(), held.end(),
                                      [](const Arrival& x) { return x.frame != "00004"; })));

#ifdef RELAIS_HAVE_DBUS
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        row("D-Bus", QStringLiteral("skipped: no session bus"));
        return;
    }
    QProcess window;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    window.setProcessEnvironment(env);
    window.start(program, {});
    const auto call = [&](const QString& method, const QVariantList& args) {
        QDBusMessage m =
            QDBusMessage::createMethodCall(bus::kService, bus::kPath, bus::kInterface, method);
        m.setArguments(args);
        return bus.call(m, QDBus::Block, 5000);
    };
    for (int i = 0;
         i < 500 && call(QStringLiteral("Stop"), {}).type() != QDBusMessage::ReplyMessage; ++i) {
        runFor(10);
    }
    call(QStringLiteral("Start"), {far.path()});
    runFor(300);
    std::vector<double> roundTrip, toWire;
    uint mask = 0;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> phase(0, 100); // any point of the tick period
    for (int i = 0; i < runs * 2; ++i) {
        runFor(phase(random));
        const int relay = 1 + i % 16;
        const bool on = !(mask & (1u << (relay - 1)));
        mask ^= 1u << (relay - 1);
        const std::string frame = QByteArray::number(mask).rightJustified(5, '0').toStdString();
        const size_t before = far.arrivals().size();
        const long long t0 = monotonicNs();
        call(QStringLiteral("SetRelay"), {uint(relay), on});
        roundTrip.push_back(ms(monotonicNs() - t0));
        double latency = NAN;
        for (int wait = 0; wait < 100 && std::isnan(latency); ++wait) {
            runFor(5);
            const auto a = far.arrivals();
            for (size_t k = before; k < a.size() && std::isnan(latency); ++k) {
                latency = a[k].frame == frame ? ms(a[k].ns - t0) : NAN;
            }
        }
        toWire.push_back(latency);
    }
    ::kill(pid_t(window.processId()), SIGTERM);
    window.waitForFinished(10000);
    row("SetRelay call round trip (ms, median)", num(percentile(roundTrip, 0.5), 2));
    row("SetRelay to its frame (ms, median)", num(percentile(toWire, 0.5), 1));
    row("SetRelay to its frame (ms, max)", num(percentile(toWire, 1.0), 1));
    row("window ended on SIGTERM with", QString::number(window.exitCode()));
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const bool quick = args.contains(QStringLiteral("--quick"));
    const auto option = [&](const char* name) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : QString();
    };

    std::printf("## relais_bench%s\n", quick ? " (quick run: figures are not meaningful)" : "");
    // --only N runs section N alone, to measure one thing again.
    const QString only = option("--only");
    const auto wanted = [&](int section) { return only.isEmpty() || only.toInt() == section; };
    if (wanted(1)) {
        tickTiming(quick ? 2 : 60);
    }
    if (wanted(2)) {
        clickLatency(quick ? 5 : 120);
    }
    const QString formProgram = option("--startup-form");
    const QString minimalProgram = option("--startup-minimal");
    if (wanted(3) && !formProgram.isEmpty() && !minimalProgram.isEmpty()) {
        startup(formProgram, minimalProgram, quick ? 2 : 15);
    }
    if (wanted(4)) {
        cpu(quick ? 1 : 20);
    }
    if (wanted(5)) {
        stalledLine(quick ? 2 : 60);
    }
    if (wanted(6)) {
        vanishedLine();
    }
    if (const QString program = option("--program"); wanted(7) && !program.isEmpty()) {
        scripts(program, quick ? 3 : 50);
    }
    return 0;
}
