// The server field as an address. A field without ':' is a host name as it
// always was; the other forms could never have been looked up before.
#include "transport/server_address.h"

#include <string.h>

// Whether text starts with prefix, ASCII letters in either case.
static int StartsWithNoCase(const char *text, const char *prefix)
{
    for (; *prefix != 0; text++, prefix++) {
        char c = *text;
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != *prefix)
            return 0;
    }
    return 1;
}

// Reads a port of 1..65535 that runs to the end of text; returns 0 for
// anything else.
static int ReadPort(const char *text)
{
    int port = 0;
    if (*text == 0)
        return 0;
    for (; *text != 0; text++) {
        if (*text < '0' || *text > '9')
            return 0;
        port = port * 10 + (*text - '0');
        if (port > 65535)
            return 0;
    }
    return port;
}

// Copies the host of length bytes and reads the optional ":port" after it.
// The separators ':' and '/' are never the second byte of a code page 932
// character, so a byte search cannot cut one.
static int SplitHostPort(const char *text, ServerAddress *address)
{
    size_t length = strcspn(text, ":/");
    if (length == 0 || text[length] == '/' || length >= sizeof address->host)
        return 0;
    memcpy(address->host, text, length);
    address->host[length] = 0;
    if (text[length] == ':') {
        address->port = ReadPort(text + length + 1);
        if (address->port == 0)
            return 0;
    }
    return 1;
}

// Reads four dotted decimal parts of 0..255 that make up all of text.
static int ReadIpv4(const char *text, unsigned char *bytes)
{
    for (int part = 0; part < 4; part++) {
        int value = 0, digits = 0;
        for (; *text >= '0' && *text <= '9' && digits < 3; text++, digits++)
            value = value * 10 + (*text - '0');
        if (digits == 0 || value > 255 || *text != (part < 3 ? '.' : 0))
            return 0;
        bytes[part] = (unsigned char)value;
        text++;
    }
    return 1;
}

// Fills in the name for TLS and whether the host is an IPv4 address.
static void NameForTls(ServerAddress *address)
{
    size_t length = strlen(address->host);
    memcpy(address->tlsName, address->host, length + 1);
    if (length > 1 && address->tlsName[length - 1] == '.')
        address->tlsName[length - 1] = 0;
    address->isIpv4 = ReadIpv4(address->tlsName, address->ipv4);
}

// The schemes a field may start with, and what each stands for.
struct UrlScheme {
    const char *prefix;
    MailProtocol protocol;
    int port;
    int tls;
};
static const UrlScheme urlSchemes[] = {
    {"pop3s://", PROTOCOL_POP3, POP3S_PORT, 1},
    {"pop3://", PROTOCOL_POP3, POP3_PORT, 0},
    {"imaps://", PROTOCOL_IMAP, IMAPS_PORT, 1},
    {"imap://", PROTOCOL_IMAP, IMAP_PORT, 0},
};

// Reads the field's host, port and scheme; returns 0 when it cannot.
static int ReadAddress(const char *field, ServerAddress *address)
{
    size_t fieldLength = strnlen(field, SERVER_NAME_SIZE);
    address->host[0] = 0;
    address->port = POP3_PORT;
    address->tls = 0;
    address->protocol = PROTOCOL_POP3;
    if (fieldLength == SERVER_NAME_SIZE)
        return 0;
    if (memchr(field, ':', fieldLength) == NULL) {
        memcpy(address->host, field, fieldLength + 1);
        return 1;
    }
    for (const UrlScheme &scheme : urlSchemes) {
        if (StartsWithNoCase(field, scheme.prefix)) {
            address->protocol = scheme.protocol;
            address->port = scheme.port;
            address->tls = scheme.tls;
            return SplitHostPort(field + strlen(scheme.prefix), address);
        }
    }
    if (strstr(field, "://") != NULL)
        return 0;
    if (!SplitHostPort(field, address))
        return 0;
    // The two well-known TLS ports speak for themselves.
    address->tls = address->port == POP3S_PORT || address->port == IMAPS_PORT;
    if (address->port == IMAPS_PORT)
        address->protocol = PROTOCOL_IMAP;
    return 1;
}

// Reads the field into address; returns 0 when it cannot be read.
int ParseServerAddress(const char *field, ServerAddress *address)
{
    address->tlsName[0] = 0;
    address->isIpv4 = 0;
    if (!ReadAddress(field, address))
        return 0;
    NameForTls(address);
    return 1;
}
