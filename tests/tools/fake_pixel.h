// The picture the fake source delivers: channel c (0 red, 1 green, 2 blue) of pixel (x, y),
// y counted from the top. Every channel varies with both coordinates, so a swapped channel,
// a flipped or shifted row or a lost column shows as a mismatch.
#pragma once

inline unsigned char fakePixel(int x, int y, int c) {
    return static_cast<unsigned char>(c == 0 ? x * 7 + y * 3 : c == 1 ? x * 3 + y * 11 + 40 : (x ^ y) * 5 + 90);
}
