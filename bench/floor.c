/* The floor for the service's figures: a plain C program that writes the
   same five-digit frame every 100 ms at 9600 8N1 and does nothing else.
   Usage: floor DEVICE */
#include <fcntl.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: floor DEVICE\n");
        return 2;
    }
    int fd = open(argv[1], O_WRONLY | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 3;
    }
    struct termios t;
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        cfsetspeed(&t, B9600);
        t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | CSTOPB)) | CS8 | CLOCAL;
        tcsetattr(fd, TCSANOW, &t);
    }
    struct timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        if (write(fd, "00004", 5) != 5) {
            return 7;
        }
        next.tv_nsec += 100000000L;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL);
    }
}
