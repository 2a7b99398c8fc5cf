// Many open event feeds in one process, and a stand-in client that changes a
// person file the way the clients do (a temporary file renamed over it); per
// change, the time from the rename to each feed's event. Loopback only.
//
//   feed_watchers PORT COUNT OFFICE_DIR KEY
//
// Connects COUNT feeds to 127.0.0.1:PORT/api/v1/events and prints
// "ready N" once N of them had their greeting. Then reads commands on stdin:
//   change K   K changes of OFFICE_DIR/KEY.kvl, one at a time; prints the
//              latencies in ms ("latency n=... p50=... p99=... max=...")
//   quit       closes every feed and ends
// Every wait is bounded; the whole run ends after an hour at most.
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { TailKept = 32, ConnectBatch = 256 };

typedef struct {
    int fd;
    int greeted;
    int seen;  // the change under way reached it
    size_t size;
    char buf[512];
} Feed;

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int open_feed(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons(port)};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (struct sockaddr*)&a, sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads what arrived; returns 1 when the text just read holds mark, -1 when
// the feed ended.
static int take(Feed* f, const char* mark) {
    int found = 0;
    for (;;) {
        ssize_t n = read(f->fd, f->buf + f->size, sizeof f->buf - 1 - f->size);
        if (n == 0) return -1;
        if (n < 0) return errno == EAGAIN ? found : -1;
        f->size += (size_t)n;
        f->buf[f->size] = 0;
        if (strstr(f->buf, mark)) {
            found = 1;
            f->size = 0;
        } else if (f->size > sizeof f->buf / 2) {
            memmove(f->buf, f->buf + f->size - TailKept, TailKept);
            f->size = TailKept;
        }
    }
}

static char* read_file(const char* path, size_t* size) {
    FILE* in = fopen(path, "rb");
    if (!in) return NULL;
    char* text = malloc(1 << 16);
    *size = fread(text, 1, (1 << 16) - 1, in);
    fclose(in);
    return text;
}

// The person file with its return date (line 6) set to day; written beside
// it and renamed over it, as a client saves. Returns the moment of the rename.
static double client_change(const char* office, const char* key, const char* original, size_t size, int day) {
    char path[4096], temp[4096], line[64];
    snprintf(path, sizeof path, "%s/%s.kvl", office, key);
    snprintf(temp, sizeof temp, "%s/%s.tmp", office, key);
    snprintf(line, sizeof line, "\"2031/%02d/%02d\"\r\n", 1 + day / 28 % 12, 1 + day % 28);
    FILE* out = fopen(temp, "wb");
    if (!out) return -1;
    size_t at = 0;
    for (int n = 0; at < size; ++n) {
        const char* end = memchr(original + at, '\n', size - at);
        size_t len = end ? (size_t)(end - (original + at)) + 1 : size - at;
        if (n == 5)
            fputs(line, out);
        else
            fwrite(original + at, 1, len, out);
        at += len;
    }
    fclose(out);
    const double t = now_ms();
    if (rename(temp, path) != 0) return -1;
    return t;
}

static int by_value(const void* a, const void* b) {
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: feed_watchers PORT COUNT OFFICE_DIR KEY\n");
        return 2;
    }
    alarm(3600);
    const int port = atoi(argv[1]), count = atoi(argv[2]);
    const char *office = argv[3], *key = argv[4];
    char path[4096];
    snprintf(path, sizeof path, "%s/%s.kvl", office, key);
    size_t size = 0;
    char* original = read_file(path, &size);
    if (!original) {
        fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    Feed* feeds = calloc((size_t)count, sizeof(Feed));
    int ep = epoll_create1(0);
    static const char request[] = "GET /api/v1/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n";

    // Connect in batches; a feed is ready once its greeting came.
    int opened = 0, greeted = 0, failed = 0;
    struct epoll_event events[512];
    const double until = now_ms() + 60000;
    while (greeted + failed < count && now_ms() < until) {
        while (opened < count && opened - greeted - failed < ConnectBatch) {
            Feed* f = &feeds[opened];
            f->fd = open_feed(port);
            if (f->fd < 0) {
                ++failed;
                ++opened;
                continue;
            }
            struct epoll_event e = {.events = EPOLLOUT | EPOLLIN, .data.ptr = f};
            epoll_ctl(ep, EPOLL_CTL_ADD, f->fd, &e);
            ++opened;
        }
        int n = epoll_wait(ep, events, 512, 100);
        for (int i = 0; i < n; ++i) {
            Feed* f = events[i].data.ptr;
            if (f->greeted || f->fd < 0) continue;
            if (events[i].events & EPOLLOUT) {
                if (write(f->fd, request, sizeof request - 1) != (ssize_t)(sizeof request - 1)) {
                    close(f->fd);
                    f->fd = -1;
                    ++failed;
                    continue;
                }
                struct epoll_event e = {.events = EPOLLIN, .data.ptr = f};
                epoll_ctl(ep, EPOLL_CTL_MOD, f->fd, &e);
            }
            int r = take(f, "event: version");
            if (r > 0) {
                f->greeted = 1;
                ++greeted;
            } else if (r < 0) {
                close(f->fd);
                f->fd = -1;
                ++failed;
            }
        }
    }
    printf("ready %d failed %d\n", greeted, failed);
    fflush(stdout);

    char command[64];
    double* samples = malloc(sizeof(double) * (size_t)count);
    int day = 0;
    while (fgets(command, sizeof command, stdin)) {
        int changes = 0;
        if (strncmp(command, "quit", 4) == 0) break;
        if (sscanf(command, "change %d", &changes) != 1) continue;
        double* all = malloc(sizeof(double) * (size_t)count * (size_t)changes);
        int total = 0, missed = 0;
        for (int k = 0; k < changes; ++k) {
            for (int i = 0; i < count; ++i) feeds[i].seen = 0;
            int got = 0, open = 0;
            for (int i = 0; i < count; ++i) open += feeds[i].greeted && feeds[i].fd >= 0;
            const double t0 = client_change(office, key, original, size, ++day);
            if (t0 < 0) {
                fprintf(stderr, "cannot change %s\n", path);
                return 1;
            }
            const double deadline = t0 + 10000;
            while (got < open && now_ms() < deadline) {
                int n = epoll_wait(ep, events, 512, 50);
                const double t = now_ms();
                for (int i = 0; i < n; ++i) {
                    Feed* f = events[i].data.ptr;
                    if (f->fd < 0) continue;
                    int r = take(f, "event: change");
                    if (r > 0 && !f->seen) {
                        f->seen = 1;
                        samples[got++] = t - t0;
                    } else if (r < 0) {
                        close(f->fd);
                        f->fd = -1;
                        if (!f->seen) --open;
                    }
                }
            }
            missed += open - got;
            memcpy(all + total, samples, sizeof(double) * (size_t)got);
            total += got;
            usleep(300 * 1000);  // the detector and rescan settle before the next change
        }
        qsort(all, (size_t)total, sizeof(double), by_value);
        if (total > 0)
            printf("latency n=%d missed=%d p50=%.2f p99=%.2f max=%.2f\n", total, missed, all[total / 2],
                   all[(size_t)(total * 0.99) < (size_t)total ? (size_t)(total * 0.99) : (size_t)total - 1],
                   all[total - 1]);
        else
            printf("latency n=0 missed=%d\n", missed);
        fflush(stdout);
        free(all);
    }
    for (int i = 0; i < count; ++i)
        if (feeds[i].fd >= 0) close(feeds[i].fd);
    return 0;
}
