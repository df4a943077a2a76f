// SettingsRequest: the 9-byte record the camera dialog fills from the camera, the settings
// dialog edits, and the camera dialog applies afterwards.
#pragma once

#include <cstdint>

struct SettingsRequest {
    // Change flags, set by the settings dialog.
    static constexpr uint8_t bitRateChanged = 0x01;
    static constexpr uint8_t portChanged = 0x02;
    static constexpr uint8_t dateChanged = 0x04;
    static constexpr uint8_t timeChanged = 0x08;
    // Index value meaning "camera not connected".
    static constexpr uint8_t noIndex = 0xFF;

    uint8_t flags = 0;
    uint8_t bitRateIndex = noIndex;  // 0..4
    uint8_t portIndex = noIndex;     // 0..3
    // The camera's clock: year modulo 100 (96..99 are 1996..1999, 0..95 are 2000..2095),
    // month, day, hour, minute, second.
    uint8_t clock[6] = {};
};
static_assert(sizeof(SettingsRequest) == 9, "the record is 9 bytes");
