// Socket calls of Windows Sockets 2 that a long-lived session needs: TCP
// keep-alive, and a wait for the server's bytes that a stop event can end.
#ifndef TOLVARAN_SOCKET_WAIT_H
#define TOLVARAN_SOCKET_WAIT_H

#include <windows.h>

enum SocketWait {
    SOCKET_READABLE,  // bytes came, or the server closed
    SOCKET_STOPPED,   // the stop event was set
    SOCKET_QUIET,     // the time passed without either
    SOCKET_WAIT_FAILED
};

// Turns on TCP keep-alive: a probe after idleMs without traffic, then every
// intervalMs. Returns 0 when the system refused.
int SetKeepAlive(UINT_PTR socket, ULONG idleMs, ULONG intervalMs);

// Connects socket to the address of length bytes, waiting at most waitMs
// and no longer than until stop is set. Returns 1 once connected. The
// socket is blocking again afterwards.
int ConnectUnlessStopped(UINT_PTR socket, const void *address, int length, HANDLE stop, DWORD waitMs);

// Waits up to waitMs for the socket to become readable or stop to be set,
// sleeping in the system meanwhile. The socket is blocking again afterwards.
SocketWait WaitForSocket(UINT_PTR socket, HANDLE stop, DWORD waitMs);

#endif
