// The profile values and the settings dialog's list data, read from bytes a user or a resource
// editor may have got wrong.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ui/dialog_init_data.h"
#include "ui/source_settings.h"

namespace {

void resetProfile() {
    RegDeleteKeyA(HKEY_CURRENT_USER, sourceSettingsKey);
}

void writeRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, sourceSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &key, nullptr));
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

std::vector<uint8_t> record(uint16_t id, uint16_t message, const char* text, uint32_t length) {
    std::vector<uint8_t> bytes = {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                                  static_cast<uint8_t>(message), static_cast<uint8_t>(message >> 8),
                                  static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                  static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    for (size_t i = 0; i <= std::strlen(text); ++i) bytes.push_back(static_cast<uint8_t>(text[i]));
    return bytes;
}

}  // namespace

TEST(SourceSettings, MissingProfileReadsAsZeros) {
    resetProfile();
    SourceSettings settings;
    settings.bitRateIndex = 3;
    settings.portIndex = 2;
    settings.autoThumbnails = 1;
    settings.load();
    EXPECT_EQ(0, settings.bitRateIndex);
    EXPECT_EQ(0, settings.portIndex);
    EXPECT_EQ(0u, settings.autoThumbnails);
}

TEST(SourceSettings, SaveAndLoadRoundTrip) {
    resetProfile();
    SourceSettings saved;
    saved.bitRateIndex = 4;
    saved.portIndex = 3;
    saved.autoThumbnails = 1;
    ASSERT_NE(0, saved.save());
    SourceSettings loaded;
    loaded.load();
    EXPECT_EQ(4, loaded.bitRateIndex);
    EXPECT_EQ(3, loaded.portIndex);
    EXPECT_EQ(1u, loaded.autoThumbnails);
    resetProfile();
}

TEST(SourceSettings, BadValuesNeverBecomeAValidChoice) {
    resetProfile();
    const DWORD big = 256;  // would be COM1 / 9600 if cut to 8 bits
    writeRaw("BaudRate", REG_DWORD, &big, sizeof big);
    writeRaw("ComPort", REG_SZ, "2", 2);  // wrong type reads as missing
    const WORD shortValue = 1;
    writeRaw("Thumbnail", REG_BINARY, &shortValue, sizeof shortValue);
    SourceSettings settings;
    settings.load();
    EXPECT_EQ(255, settings.bitRateIndex);
    EXPECT_EQ(0, settings.portIndex);
    EXPECT_EQ(0u, settings.autoThumbnails);
    resetProfile();
}

TEST(SourceSettings, CacheIsOnUnlessTheUserSetsZero) {
    resetProfile();
    SourceSettings settings;
    settings.cache = 0;
    settings.load();
    EXPECT_EQ(1u, settings.cache);  // no key at all
    const DWORD off = 0;
    writeRaw("Cache", REG_DWORD, &off, sizeof off);
    settings.load();
    EXPECT_EQ(0u, settings.cache);
    writeRaw("Cache", REG_SZ, "0", 2);  // wrong type reads as missing: on
    settings.load();
    EXPECT_EQ(1u, settings.cache);
    writeRaw("Cache", REG_DWORD, &off, sizeof off);
    settings.autoThumbnails = 1;
    ASSERT_NE(0, settings.save());  // saving leaves the user's Cache value alone
    settings.load();
    EXPECT_EQ(0u, settings.cache);
    resetProfile();
}

TEST(SourceSettings, BitRates) {
    EXPECT_EQ(9600u, bitRateOfIndex(0));
    EXPECT_EQ(19200u, bitRateOfIndex(1));
    EXPECT_EQ(38400u, bitRateOfIndex(2));
    EXPECT_EQ(57600u, bitRateOfIndex(3));
    EXPECT_EQ(115200u, bitRateOfIndex(4));
    EXPECT_EQ(0u, bitRateOfIndex(5));
    EXPECT_EQ(0u, bitRateOfIndex(255));
}

TEST(DialogInitData, ParsesRecordsUntilTheZeroId) {
    std::vector<uint8_t> data = record(1013, CB_ADDSTRING, "9600", 5);
    const auto legacy = record(1014, 0x0403, "COM1", 5);
    data.insert(data.end(), legacy.begin(), legacy.end());
    data.push_back(0);
    data.push_back(0);
    std::vector<DialogInitRecord> records;
    ASSERT_TRUE(parseDialogInitData(data.data(), data.size(), records));
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(1013, records[0].controlId);
    EXPECT_EQ("9600", records[0].text);
    EXPECT_EQ(1014, records[1].controlId);
    EXPECT_EQ(static_cast<UINT>(CB_ADDSTRING), records[1].message);
    EXPECT_EQ("COM1", records[1].text);
}

TEST(DialogInitData, RefusesDataThatIsCutShortOrUnknown) {
    std::vector<DialogInitRecord> records;
    std::vector<uint8_t> data = record(1013, CB_ADDSTRING, "9600", 5);
    // No terminating zero id.
    EXPECT_FALSE(parseDialogInitData(data.data(), data.size(), records));
    EXPECT_EQ(1u, records.size());
    // A length beyond the end of the data.
    records.clear();
    std::vector<uint8_t> tooLong = record(1013, CB_ADDSTRING, "9600", 0x7FFFFFFF);
    EXPECT_FALSE(parseDialogInitData(tooLong.data(), tooLong.size(), records));
    EXPECT_TRUE(records.empty());
    // A message other than adding a string.
    std::vector<uint8_t> other = record(1013, WM_SETTEXT, "x", 2);
    other.push_back(0);
    other.push_back(0);
    EXPECT_FALSE(parseDialogInitData(other.data(), other.size(), records));
    // Half a header.
    const uint8_t half[] = {0xF5, 0x03, 0x43};
    EXPECT_FALSE(parseDialogInitData(half, sizeof half, records));
    EXPECT_FALSE(parseDialogInitData(nullptr, 0, records));
    // A text without its NUL ends at the record's end.
    records.clear();
    std::vector<uint8_t> unterminated = record(1013, CB_ADDSTRING, "115200", 3);
    unterminated.resize(8 + 3);
    unterminated.push_back(0);
    unterminated.push_back(0);
    ASSERT_TRUE(parseDialogInitData(unterminated.data(), unterminated.size(), records));
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ("115", records[0].text);
}
