#include <algorithm>

#include "support/text.h"

void rect_intersect(const Rect* a, Rect* b) {
    b->left = std::max(a->left, b->left);
    b->top = std::max(a->top, b->top);
    b->right = std::min(a->right, b->right);
    b->bottom = std::min(a->bottom, b->bottom);
    if (b->left >= b->right || b->top >= b->bottom) {
        *b = Rect{0, 0, 0, 0};
    }
}

namespace {

// Truncates towards zero and clamps to a byte. The clamp comes first so that
// huge values, infinities and NaN (which becomes 0) never reach a conversion
// whose result would be undefined.
uint32_t color_channel(double value) {
    if (!(value > 0.0)) {
        return 0;
    }
    if (value >= 255.0) {
        return 255;
    }
    return static_cast<uint32_t>(value);
}

uint32_t color_byte(uint32_t colour, int index) {
    return (colour >> (8 * index)) & 0xFF;
}

} // namespace

uint32_t color_from_floats(float c0, float c1, float c2, float alpha) {
    return color_channel(c0 * 255.0) | color_channel(c1 * 255.0) << 8 |
           color_channel(c2 * 255.0) << 16 | color_channel(alpha * 255.0) << 24;
}

uint32_t color_scale(uint32_t colour, float factor) {
    uint32_t result = colour & 0xFF000000u; // alpha stays
    for (int i = 0; i < 3; ++i) {
        float scaled = static_cast<float>(color_byte(colour, i)) * factor;
        result |= color_channel(scaled) << (8 * i);
    }
    return result;
}

uint32_t color_modulate(uint32_t x, uint32_t y) {
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        result |= (color_byte(x, i) * color_byte(y, i) / 255) << (8 * i);
    }
    return result;
}

uint32_t color_pack(uint32_t c0, uint32_t c1, uint32_t c2, uint32_t alpha) {
    return std::min(c0, 255u) | std::min(c1, 255u) << 8 | std::min(c2, 255u) << 16 |
           std::min(alpha, 255u) << 24;
}
