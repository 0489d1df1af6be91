// Placeholder until start-up lands.
#include "app/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    hInstance = instance;
    return 0;
}
