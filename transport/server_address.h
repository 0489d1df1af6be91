// The server field of the settings read as an address: host, port, the
// protocol spoken and whether the connection is TLS from its first byte.
#ifndef TOLVARAN_SERVER_ADDRESS_H
#define TOLVARAN_SERVER_ADDRESS_H

#include "settings/settings.h"

#define POP3_PORT   110
#define POP3S_PORT  995
#define IMAP_PORT   143
#define IMAPS_PORT  993

enum MailProtocol {
    PROTOCOL_POP3,
    PROTOCOL_IMAP
};

struct ServerAddress {
    char host[SERVER_NAME_SIZE];     // looked up as typed
    char tlsName[SERVER_NAME_SIZE];  // host without one trailing dot
    unsigned char ipv4[4];           // the address, when host is one
    int isIpv4;                      // host is a dotted IPv4 address
    int port;
    int tls;
    MailProtocol protocol;
};

// Reads the field: "host" (POP3, port 110, the name taken byte for byte),
// "host:port" (POP3 over TLS when the port is 995, IMAP over TLS when it is
// 993, else plain POP3), "pop3s://host[:port]" (TLS, 995 by default),
// "pop3://host[:port]" (plain, 110 by default), "imaps://host[:port]" (IMAP
// over TLS, 993 by default) or "imap://host[:port]" (plain IMAP, 143 by
// default). Returns 0
// for an unknown scheme, an empty host, a port outside 1..65535 or text
// after the port. The name a TLS server is asked for and checked against
// drops one trailing dot, which SNI does not allow.
int ParseServerAddress(const char *field, ServerAddress *address);

#endif
