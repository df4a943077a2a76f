// Messages the source's windows send or post to each other (wParam 0, lParam 0).
#pragma once

#include <windows.h>

// Thumbnail grid -> acquire dialog (posted): a picture was clicked or the grid scrolled.
constexpr UINT UM_SELCHANGED = 0x432;
// Thumbnail grid -> acquire dialog (posted): double click on a picture.
constexpr UINT UM_ACTIVATE_PICTURE = 0x433;
// Camera dialog -> itself (posted): connect once the dialog is on screen.
constexpr UINT UM_CONNECT = 0x464;
// Acquire dialog -> itself (posted): read the picture list once the dialog is on screen.
constexpr UINT UM_LOAD_PICTURES = 0x465;
// Information dialog -> acquire dialog (sent): fetch the selected picture's thumbnail;
// the answer 0 asks the information dialog to close.
constexpr UINT UM_FETCH_THUMBNAIL = 0x466;
// Camera dialog -> active dialog (sent): help for the control under the mouse cursor.
constexpr UINT UM_CONTEXT_HELP = 0x467;
