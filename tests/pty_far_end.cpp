// The far end of a line for tests of the real program: makes a
// pseudo-terminal, prints the path of its near end, then appends every byte
// that arrives to the file given, until it is terminated.

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pty_far_end OUTPUT\n");
        return 2;
    }
    int master = -1;
    int slave = -1; // held open so that the line stays up between openings
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    const int out = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (out < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%s\n", name);
    std::fflush(stdout);
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0) {
            if (::write(out, buf, size_t(n)) != n) {
                return 1;
            }
        } else if (n < 0) {
            ::usleep(10000);
        }
    }
}
