// DialogTemplate: a DLGTEMPLATEEX resource read into plain values, so that tests can compare a
// template's header and controls with what the dialog is meant to look like.
//
// The layout is the extended template the resource compiler writes for DIALOGEX: a header
// (version 1, signature 0xFFFF, help id, extended style, style, item count, x, y, cx, cy, menu,
// class, title, and with DS_SETFONT the point size, weight, italic, charset and face), then one
// DWORD-aligned record per control (help id, extended style, style, x, y, cx, cy, a 32-bit id,
// class, title, creation-data byte count and data). Names are NUL-terminated UTF-16 strings or
// 0xFFFF followed by an ordinal. Every read is bounds-checked; a short or malformed resource
// gives ok == false.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct DialogBox {
    int x = 0, y = 0, cx = 0, cy = 0;
    bool operator==(const DialogBox& o) const { return x == o.x && y == o.y && cx == o.cx && cy == o.cy; }
};

struct DialogControl {
    int32_t id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    DialogBox box;
    uint16_t classOrdinal = 0;  // 0x80 button, 0x81 edit, 0x82 static, 0x85 combo box; 0 when named
    std::wstring className;     // for controls named by class, e.g. L"msctls_updown32"
    std::wstring text;
};

struct DialogTemplate {
    bool ok = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    DialogBox box;
    std::wstring caption;
    int pointSize = 0;
    std::wstring face;
    std::vector<DialogControl> controls;

    const DialogControl* find(int32_t id) const;
};

// Parses the bytes of a DIALOGEX resource.
DialogTemplate parseDialogTemplate(const uint8_t* data, size_t size);

// Loads dialog `id` of the given language from `module` (FindResourceExW); ok == false when the
// module has no such template in that language.
DialogTemplate loadDialogTemplate(HMODULE module, int id, LANGID language);
