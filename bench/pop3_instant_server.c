/* A POP3 server that answers at once, for timing clients alone: greeting,
 * +OK to USER and PASS, "+OK 3 300" to STAT, "+OK" to QUIT and close. One
 * client at a time; runs until killed.
 *   pop3_instant_server ADDR [hostile]
 * With "hostile" each session misbehaves instead, in turn: silent after the
 * greeting until the client hangs up; greeting, then a reset once the first
 * command has come; a greeting trickled byte by byte and cut short. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

static void say(int s, const char *text)
{
    send(s, text, strlen(text), MSG_NOSIGNAL);
}

static void serve(int s)
{
    char line[1024];
    size_t held = 0;
    say(s, "+OK instant POP3 ready\r\n");
    for (;;) {
        ssize_t got = recv(s, line + held, sizeof line - 1 - held, 0);
        if (got <= 0)
            return;
        held += (size_t)got;
        char *end;
        while ((end = memchr(line, '\n', held)) != NULL) {
            size_t length = (size_t)(end - line) + 1;
            if (strncasecmp(line, "QUIT", 4) == 0) {
                say(s, "+OK bye\r\n");
                return;
            }
            say(s, strncasecmp(line, "STAT", 4) == 0 ? "+OK 3 300\r\n" : "+OK\r\n");
            memmove(line, line + length, held - length);
            held -= length;
        }
        if (held == sizeof line - 1)
            held = 0;
    }
}

/* Waits until the client sends something or hangs up; returns 0 on hang-up. */
static int await_client(int s)
{
    char byte[256];
    return recv(s, byte, sizeof byte, 0) > 0;
}

/* One hostile session of the given kind (0, 1 or 2). */
static void misbehave(int s, unsigned kind)
{
    static const char trickle[] = "+OK trickled greeting that nev";
    switch (kind) {
    case 0:
        say(s, "+OK silent POP3 ready\r\n");
        while (await_client(s))
            ;
        break;
    case 1: {
        say(s, "+OK resetting POP3 ready\r\n");
        await_client(s);
        /* A zero linger time makes the close a reset. */
        struct linger now = {1, 0};
        setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
        break;
    }
    default:
        for (size_t i = 0; i + 1 < sizeof trickle; i++) {
            send(s, trickle + i, 1, MSG_NOSIGNAL);
            usleep(1000);
        }
        break;
    }
}

int main(int argc, char **argv)
{
    int hostile = argc == 3 && strcmp(argv[2], "hostile") == 0;
    if (argc != 2 && !hostile) {
        fprintf(stderr, "usage: pop3_instant_server ADDR [hostile]\n");
        return 2;
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(110);
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1 ||
        bind(listener, (struct sockaddr *)&address, sizeof address) != 0 || listen(listener, 16) != 0) {
        perror("pop3_instant_server");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (unsigned session = 0;; session++) {
        int s = accept(listener, NULL, NULL);
        if (s < 0)
            continue;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (hostile)
            misbehave(s, session % 3);
        else
            serve(s);
        close(s);
    }
}
