// Placeholder until the tray controller lands.
#include "app/app.h"

HINSTANCE hInstance;
NOTIFYICONDATAA trayData;
