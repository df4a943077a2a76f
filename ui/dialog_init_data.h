// Dialog initialisation data: list entries that travel with a dialog template as a resource of
// type RT_DIALOG_INIT under the template's id (the layout resource editors write).
//
// The data is a sequence of records, each a control id (16-bit), a message (16-bit), a byte
// count (32-bit) and that many bytes of NUL-terminated text, ended by a zero control id. The
// window system does not apply it on its own, so a dialog calls applyDialogInitData from its
// initialisation.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DialogInitRecord {
    int controlId;
    UINT message;  // CB_ADDSTRING
    std::string text;
};

// Parses raw initialisation data. Returns false (with the records read so far) when the data is
// cut short or holds a message other than adding a combo-box string.
bool parseDialogInitData(const uint8_t* data, size_t size, std::vector<DialogInitRecord>& records);

// Adds the list entries of dialog templateId (language chosen by the resource loader) to its
// controls. Returns the number of entries added, -1 when the data is missing or malformed.
int applyDialogInitData(HWND dialog, int templateId);
