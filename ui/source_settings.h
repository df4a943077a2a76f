// SourceSettings: the user's choices that outlive a session (bit rate, port, automatic
// thumbnails), kept per Windows user under HKCU\Software\Zelmar\Dorvex TwainDS.
//
// One object per library; the camera dialog loads it when it opens and saves it when it closes,
// the settings and acquire dialogs read and change it in between.
#pragma once

#include <cstdint>

struct SourceSettings {
    uint8_t bitRateIndex = 0;    // 0..4 = 9600, 19200, 38400, 57600, 115200 bit/s
    uint8_t portIndex = 0;       // 0..3 = COM1..COM4
    uint32_t autoThumbnails = 0; // non-zero: the acquire dialog fetches thumbnails as it opens
    uint32_t cache = 1;          // non-zero: thumbnails and pictures are kept (see picture_cache.h)

    // Reads the profile values; a missing or unreadable value reads as 0, except Cache, which
    // reads as 1 (on) when missing and is only ever set by the user.
    void load();
    // Writes the three profile values the dialogs change (not Cache); returns non-zero when all
    // three were written.
    int save() const;
};

// The library's one instance.
SourceSettings& sourceSettings();

// Bit rate of a bit-rate index, 0 for an index outside 0..4.
uint32_t bitRateOfIndex(unsigned index);

// The profile key below HKEY_CURRENT_USER, for tests that prepare or inspect it.
extern const char* const sourceSettingsKey;
