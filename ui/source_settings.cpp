#include "ui/source_settings.h"

#include <windows.h>

const char* const sourceSettingsKey = "Software\\Zelmar\\Dorvex TwainDS";

namespace {

const char* const bitRateValue = "BaudRate";
const char* const portValue = "ComPort";
const char* const thumbnailValue = "Thumbnail";
const char* const cacheValue = "Cache";

// Profile integers are stored as REG_DWORD; a value of another type or size reads as `missing`.
DWORD readValue(HKEY key, const char* name, DWORD missing = 0) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return missing;
    return value;
}

// The indices are 8-bit. A larger stored value becomes 255 rather than its low byte, so that the
// camera dialog rejects it as out of range instead of taking 256 for COM1.
uint8_t toIndex(DWORD value) {
    return static_cast<uint8_t>(value > 0xFF ? 0xFF : value);
}

bool writeValue(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
           ERROR_SUCCESS;
}

}  // namespace

SourceSettings& sourceSettings() {
    static SourceSettings settings;
    return settings;
}

uint32_t bitRateOfIndex(unsigned index) {
    static const uint32_t rates[] = {9600, 19200, 38400, 57600, 115200};
    return index < sizeof rates / sizeof rates[0] ? rates[index] : 0;
}

void SourceSettings::load() {
    bitRateIndex = 0;
    portIndex = 0;
    autoThumbnails = 0;
    cache = 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, sourceSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    bitRateIndex = toIndex(readValue(key, bitRateValue));
    portIndex = toIndex(readValue(key, portValue));
    autoThumbnails = readValue(key, thumbnailValue);
    cache = readValue(key, cacheValue, 1);
    RegCloseKey(key);
}

int SourceSettings::save() const {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, sourceSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return 0;
    const bool ok = writeValue(key, bitRateValue, bitRateIndex) && writeValue(key, portValue, portIndex) &&
                    writeValue(key, thumbnailValue, autoThumbnails);
    RegCloseKey(key);
    return ok ? 1 : 0;
}
