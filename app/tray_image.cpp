// Icons at the sizes of the system's DPI, and the one image the tray shows.
#include "app/app.h"

// The tray's image and the resource it came from. The shell keeps a copy of
// the icon it is given, so the image shown before can go once a new one is in.
static HICON trayImage = NULL;
static int trayImageId = 0;

// Loads icon resource id from instance at size x size pixels, the .ico's
// image of that size where it has one; the handle is the caller's, NULL on failure.
HICON LoadIconAtSize(HINSTANCE instance, int id, int size)
{
    return (HICON)LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, size, size,
                             LR_DEFAULTCOLOR);
}

// Loads icon resource iconId afresh at the small-icon size of the system's
// DPI (16, 20, 24 or 32 px at 100, 125, 150 or 200 %) and destroys the tray
// image loaded before it.
HICON LoadTrayImage(HINSTANCE instance, int iconId)
{
    int size = GetSystemMetrics(SM_CXSMICON);
    HICON fresh = LoadIconAtSize(instance, iconId, size);
    if (trayImage != NULL)
        DestroyIcon(trayImage);
    trayImage = fresh;
    trayImageId = iconId;
    return fresh;
}

// The icon resource the tray image was last loaded from; 0 before the first.
int TrayImageId(void)
{
    return trayImageId;
}
