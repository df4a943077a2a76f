// Private messages between the source's windows. All carry wParam 0 and lParam 0.
#pragma once

#include <windows.h>

// Thumbnail grid -> acquire dialog (posted): a picture was clicked or the grid scrolled.
constexpr UINT UM_SELCHANGED = 0x432;
// Thumbnail grid -> acquire dialog (posted): a picture was double-clicked; acquire it.
constexpr UINT UM_ACTIVATE_PICTURE = 0x433;
// Camera dialog -> itself (posted): connect once the dialog is on screen.
constexpr UINT UM_CONNECT = 0x464;
// Acquire dialog -> itself (posted): read the picture list once the dialog is on screen.
constexpr UINT UM_LOAD_PICTURES = 0x465;
// Information dialog -> acquire dialog (sent): fetch the selected thumbnail; a 0 answer closes.
constexpr UINT UM_FETCH_THUMBNAIL = 0x466;
// Camera dialog -> the active dialog (sent): show help for the control under the mouse cursor.
constexpr UINT UM_CONTEXT_HELP = 0x467;
