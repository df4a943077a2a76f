#include "tests/resources/dialog_template.h"

namespace {

// Bounds-checked little-endian reader over a resource's bytes.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool failed() const { return bad; }

    uint16_t word() {
        if (!available(2)) return 0;
        const uint16_t value = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return value;
    }
    uint32_t dword() {
        const uint32_t low = word();
        return low | static_cast<uint32_t>(word()) << 16;
    }
    int16_t shortValue() { return static_cast<int16_t>(word()); }
    uint8_t byte() {
        if (!available(1)) return 0;
        return data[pos++];
    }
    // A NUL-terminated UTF-16 string, at most the bytes left.
    std::wstring string() {
        std::wstring text;
        while (!bad) {
            const uint16_t ch = word();
            if (bad || ch == 0) break;
            text.push_back(static_cast<wchar_t>(ch));
        }
        return text;
    }
    // sz_Or_Ord: 0 (none), 0xFFFF + ordinal, or a string.
    void nameOrOrdinal(uint16_t& ordinal, std::wstring& name) {
        ordinal = 0;
        name.clear();
        if (!available(2)) return;
        const uint16_t first = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        if (first == 0xFFFF) {
            pos += 2;
            ordinal = word();
        } else {
            name = string();
        }
    }
    void skip(size_t n) {
        if (available(n)) pos += n;
    }
    void alignDword() { skip((4 - pos % 4) % 4); }

private:
    bool available(size_t n) {
        if (bad || n > size || pos > size - n) {
            bad = true;
            return false;
        }
        return true;
    }

    const uint8_t* data;
    size_t size;
    size_t pos = 0;
    bool bad = false;
};

DialogBox readBox(TemplateReader& in) {
    DialogBox box;
    box.x = in.shortValue();
    box.y = in.shortValue();
    box.cx = in.shortValue();
    box.cy = in.shortValue();
    return box;
}

DialogControl readControl(TemplateReader& in) {
    DialogControl control;
    in.alignDword();
    in.dword();  // help id
    control.exStyle = in.dword();
    control.style = in.dword();
    control.box = readBox(in);
    control.id = static_cast<int32_t>(in.dword());
    in.nameOrOrdinal(control.classOrdinal, control.className);
    uint16_t textOrdinal = 0;
    in.nameOrOrdinal(textOrdinal, control.text);
    in.skip(in.word());  // creation data
    return control;
}

}  // namespace

const DialogControl* DialogTemplate::find(int32_t id) const {
    for (const DialogControl& control : controls)
        if (control.id == id) return &control;
    return nullptr;
}

DialogTemplate parseDialogTemplate(const uint8_t* data, size_t size) {
    DialogTemplate result;
    TemplateReader in(data, size);
    if (in.word() != 1 || in.word() != 0xFFFF) return result;  // not an extended template
    in.dword();  // help id
    result.exStyle = in.dword();
    result.style = in.dword();
    const uint16_t count = in.word();
    result.box = readBox(in);
    uint16_t ordinal = 0;
    std::wstring name;
    in.nameOrOrdinal(ordinal, name);  // menu
    in.nameOrOrdinal(ordinal, name);  // window class
    result.caption = in.string();
    if (result.style & DS_SETFONT) {
        result.pointSize = in.word();
        in.word();  // weight
        in.byte();  // italic
        in.byte();  // charset
        result.face = in.string();
    }
    for (uint16_t i = 0; i < count && !in.failed(); ++i) result.controls.push_back(readControl(in));
    result.ok = !in.failed();
    return result;
}

DialogTemplate loadDialogTemplate(HMODULE module, int id, LANGID language) {
    HRSRC found = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_DIALOG), MAKEINTRESOURCEW(id), language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module, found);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return {};
    return parseDialogTemplate(static_cast<const uint8_t*>(bytes), SizeofResource(module, found));
}
