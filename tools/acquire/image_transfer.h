// Taking one picture from a source in state 6: its image information, then the picture by
// native transfer (one DIB in a global block) or buffered memory transfer (blocks of rows into
// a buffer the application owns). Failures are left in the client's failure text.
#pragma once

#include "source/twain.h"
#include "tools/acquire/picture.h"

class TwainClient;

bool askImageInfo(TwainClient& client, TW_IMAGEINFO& info);
bool receiveNative(TwainClient& client, Picture& picture);
bool receiveMemory(TwainClient& client, const TW_IMAGEINFO& info, Picture& picture);
// MSG_ENDXFER; a source that still reports pending transfers is reset, as this application
// takes one picture per session.
bool endTransfer(TwainClient& client);
