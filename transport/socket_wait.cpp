// TCP keep-alive and an event wait on a socket, through Windows Sockets 2;
// the rest of the check keeps to version 1.1's calls.
#include <winsock2.h>
#include <mstcpip.h>

#include "transport/socket_wait.h"

// Turns on TCP keep-alive with the given times.
int SetKeepAlive(UINT_PTR socket, ULONG idleMs, ULONG intervalMs)
{
    tcp_keepalive values;
    values.onoff = 1;
    values.keepalivetime = idleMs;
    values.keepaliveinterval = intervalMs;
    DWORD returned = 0;
    return WSAIoctl((SOCKET)socket, SIO_KEEPALIVE_VALS, &values, sizeof values, NULL, 0, &returned, NULL,
                    NULL) == 0;
}

// Makes the socket blocking again after WSAEventSelect, which takes both
// calls, and lets go of its event.
static void EndEventSelect(UINT_PTR socket, WSAEVENT event)
{
    WSAEventSelect((SOCKET)socket, NULL, 0);
    u_long blocking = 0;
    ioctlsocket((SOCKET)socket, FIONBIO, &blocking);
    WSACloseEvent(event);
}

// Connects in the background, so that the stop can end the wait.
int ConnectUnlessStopped(UINT_PTR socket, const void *address, int length, HANDLE stop, DWORD waitMs)
{
    WSAEVENT done = WSACreateEvent();
    if (done == WSA_INVALID_EVENT)
        return 0;
    int connected = 0;
    if (WSAEventSelect((SOCKET)socket, done, FD_CONNECT) == 0) {
        if (connect((SOCKET)socket, (const sockaddr *)address, length) == 0) {
            connected = 1;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            HANDLE handles[2] = {stop, done};
            WSANETWORKEVENTS events;
            connected = WaitForMultipleObjects(2, handles, FALSE, waitMs) == WAIT_OBJECT_0 + 1 &&
                        WSAEnumNetworkEvents((SOCKET)socket, done, &events) == 0 &&
                        (events.lNetworkEvents & FD_CONNECT) != 0 && events.iErrorCode[FD_CONNECT_BIT] == 0;
        }
    }
    EndEventSelect(socket, done);
    return connected;
}

// Waits for the socket's bytes, the stop event or the time.
SocketWait WaitForSocket(UINT_PTR socket, HANDLE stop, DWORD waitMs)
{
    WSAEVENT readable = WSACreateEvent();
    if (readable == WSA_INVALID_EVENT)
        return SOCKET_WAIT_FAILED;
    SocketWait result = SOCKET_WAIT_FAILED;
    // Bytes already waiting set the event at once.
    if (WSAEventSelect((SOCKET)socket, readable, FD_READ | FD_CLOSE) == 0) {
        // Bytes that are there already come first: the stop, set just
        // after the server's "+", would otherwise cut off the answer that
        // lets the session end in order. The next wait sees the stop.
        HANDLE handles[2] = {readable, stop};
        DWORD woken = WaitForMultipleObjects(2, handles, FALSE, waitMs);
        if (woken == WAIT_OBJECT_0)
            result = SOCKET_READABLE;
        else if (woken == WAIT_OBJECT_0 + 1)
            result = SOCKET_STOPPED;
        else if (woken == WAIT_TIMEOUT)
            result = SOCKET_QUIET;
    }
    // WSAEventSelect made the socket non-blocking; the receives, with their
    // time-outs, want it blocking.
    EndEventSelect(socket, readable);
    return result;
}
