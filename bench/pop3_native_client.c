/* The same minimal POP3 exchange as a native Linux program, for comparison
 * with the check run under Wine. Prints the median per check in microseconds.
 *   pop3_native_client SERVER USER PASSWORD COUNT */
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static char reply[51200];

static int exchange(int s, const char *command)
{
    if (command != NULL)
        send(s, command, strlen(command), 0);
    memset(reply, 0, sizeof reply);
    recv(s, reply, sizeof reply - 1, 0);
    return reply[0] == '+';
}

static int check_once(const char *server, const char *user, const char *password)
{
    struct hostent *host = gethostbyname(server);
    if (host == NULL)
        return 0;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(110);
    memcpy(&address.sin_addr, host->h_addr_list[0], sizeof address.sin_addr);
    int s = socket(AF_INET, SOCK_STREAM, 0);
    int ok = 0;
    if (connect(s, (struct sockaddr *)&address, sizeof address) == 0) {
        char command[1024];
        exchange(s, NULL);
        snprintf(command, sizeof command, "USER %s\r\n", user);
        if (exchange(s, command)) {
            snprintf(command, sizeof command, "PASS %s\r\n", password);
            if (exchange(s, command) && exchange(s, "stat\r\n"))
                ok = atoi(reply + 4) >= 0;
        }
        exchange(s, "QUIT\r\n");
    }
    close(s);
    return ok;
}

static int compare(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(int argc, char **argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: pop3_native_client SERVER USER PASSWORD COUNT\n");
        return 2;
    }
    int count = atoi(argv[4]);
    double *times = calloc(count, sizeof *times);
    for (int i = 0; i < count; i++) {
        struct timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        if (!check_once(argv[1], argv[2], argv[3])) {
            fprintf(stderr, "check %d failed\n", i);
            return 1;
        }
        clock_gettime(CLOCK_MONOTONIC, &end);
        times[i] = (end.tv_sec - start.tv_sec) * 1e6 + (end.tv_nsec - start.tv_nsec) / 1e3;
    }
    qsort(times, count, sizeof *times, compare);
    printf("%.0f\n", times[count / 2]);
    free(times);
    return 0;
}
