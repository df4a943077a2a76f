#include "ui/dialog_init_data.h"

#include "resources/resource_ids.h"
#include "source/module.h"

namespace {

// 0x0403 is how 16-bit resource editors stored CB_ADDSTRING (WM_USER + 3); both mean the same.
constexpr UINT legacyAddString = 0x0403;

// Little-endian reads with the bound checked by the caller.
uint32_t readWord(const uint8_t* p) {
    return p[0] | (p[1] << 8);
}
uint32_t readDword(const uint8_t* p) {
    return readWord(p) | (readWord(p + 2) << 16);
}

}  // namespace

bool parseDialogInitData(const uint8_t* data, size_t size, std::vector<DialogInitRecord>& records) {
    if (!data) return false;
    size_t pos = 0;
    for (;;) {
        if (size - pos < 2) return false;  // no terminating zero id
        const int controlId = static_cast<int>(readWord(data + pos));
        if (controlId == 0) return true;
        if (size - pos < 8) return false;
        const UINT message = readWord(data + pos + 2);
        const uint32_t length = readDword(data + pos + 4);
        pos += 8;
        if (length > size - pos) return false;
        if (message != CB_ADDSTRING && message != legacyAddString) return false;
        // The text ends at its NUL or at the end of the record, whichever comes first.
        const char* text = reinterpret_cast<const char*>(data + pos);
        size_t textLength = 0;
        while (textLength < length && text[textLength] != '\0') ++textLength;
        records.push_back({controlId, CB_ADDSTRING, std::string(text, textLength)});
        pos += length;
    }
}

int applyDialogInitData(HWND dialog, int templateId) {
    HMODULE module = moduleInstance();
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(templateId), MAKEINTRESOURCEA(RT_DIALOG_INIT));
    if (!info) return -1;
    HGLOBAL loaded = LoadResource(module, info);
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (!data) return -1;
    std::vector<DialogInitRecord> records;
    const bool complete = parseDialogInitData(data, SizeofResource(module, info), records);
    int added = 0;
    for (const DialogInitRecord& record : records) {
        const LRESULT result = SendDlgItemMessageA(dialog, record.controlId, record.message, 0,
                                                   reinterpret_cast<LPARAM>(record.text.c_str()));
        if (result >= 0) ++added;
    }
    return complete ? added : -1;
}
