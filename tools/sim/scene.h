// Deterministic picture content for the built-in card: a gradient sky, a few shapes, a band
// of fine texture (so that sizes resemble real photographs) and the picture number in large
// digits. Drawn in coordinates relative to the picture size, so a thumbnail shows the same
// scene as its picture.
#pragma once

#include "tools/sim/jpeg_encoder.h"

namespace sim {

RgbImage renderScene(int number, int width, int height, int textureStrength);

}  // namespace sim
