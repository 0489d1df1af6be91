// Watches the machine's network interfaces and addresses and tells the main
// window when they change.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include "app/app.h"

#include "resources/resource.h"

static HANDLE interfaceWatch;
static HANDLE addressWatch;

// Runs on a thread of the system's: the window alone decides what follows.
static void PostNetworkChange(void *window)
{
    PostMessageA((HWND)window, WM_NETWORKCHANGED, 0, 0);
}

// An interface came, went or changed its state.
static void WINAPI InterfaceChanged(void *window, MIB_IPINTERFACE_ROW *, MIB_NOTIFICATION_TYPE)
{
    PostNetworkChange(window);
}

// An address was added, removed or changed.
static void WINAPI AddressChanged(void *window, MIB_UNICASTIPADDRESS_ROW *, MIB_NOTIFICATION_TYPE)
{
    PostNetworkChange(window);
}

// Starts posting WM_NETWORKCHANGED to hwnd on every change; a registration
// the system refuses leaves that watch off.
void StartNetworkWatch(HWND hwnd)
{
    if (NotifyIpInterfaceChange(AF_UNSPEC, InterfaceChanged, hwnd, FALSE, &interfaceWatch) !=
        NO_ERROR)
        interfaceWatch = NULL;
    if (NotifyUnicastIpAddressChange(AF_UNSPEC, AddressChanged, hwnd, FALSE, &addressWatch) !=
        NO_ERROR)
        addressWatch = NULL;
}

// Ends both watches; no callback runs after this returns.
void StopNetworkWatch(void)
{
    if (interfaceWatch != NULL)
        CancelMibChangeNotify2(interfaceWatch);
    if (addressWatch != NULL)
        CancelMibChangeNotify2(addressWatch);
    interfaceWatch = NULL;
    addressWatch = NULL;
}
