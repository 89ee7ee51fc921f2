"""What a process has used so far, read from /proc."""
import os

def cpu_seconds(pid):
    """CPU time of all its threads, to the nanosecond (the scheduler's own
    count: clock ticks would round a quiet minute to tens of milliseconds)."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that just ended
    return total / 1e9

def peak_rss(pid):
    """The highest resident set so far, in MiB."""
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmHWM")) / 1024
