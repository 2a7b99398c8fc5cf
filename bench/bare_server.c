// The floor for one answer per connection on this kernel: a listener that
// hands a connection over only once its request has come (deferred accept),
// one read of whatever came, no parsing, one send of a canned answer (head
// and body of BODY_FILE), close; no log, one thread. Loopback only.
//
//   bare_server PORT BODY_FILE [CONTENT_TYPE]
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: bare_server PORT BODY_FILE [CONTENT_TYPE]\n");
        return 2;
    }
    FILE* in = fopen(argv[2], "rb");
    if (!in) {
        perror(argv[2]);
        return 1;
    }
    static char body[1 << 20], answer[(1 << 20) + 512];
    const size_t size = fread(body, 1, sizeof body, in);
    fclose(in);
    int head =
        snprintf(answer, 512, "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n",
                 argc > 3 ? argv[3] : "text/html; charset=SJIS", size);
    memcpy(answer + head, body, size);
    const size_t length = (size_t)head + size;

    signal(SIGPIPE, SIG_IGN);
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1, defer = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(listener, IPPROTO_TCP, TCP_DEFER_ACCEPT, &defer, sizeof defer);
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons(atoi(argv[1]))};
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (struct sockaddr*)&a, sizeof a) != 0 || listen(listener, 511) != 0) {
        perror("listen");
        return 1;
    }
    // A connection whose request never comes waits a second at most.
    const struct timeval patience = {1, 0};
    char request[16384];
    for (;;) {
        int c = accept4(listener, NULL, NULL, 0);
        if (c < 0) continue;
        setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        if (read(c, request, sizeof request) > 0) (void)!send(c, answer, length, MSG_NOSIGNAL);
        close(c);
    }
}
