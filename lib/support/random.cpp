#include "support/text.h"

namespace {

// Zero until someone seeds it: every output is then 0. No lock guards it.
Random random_process_state;

Random* random_state(Random* state) {
    return state != nullptr ? state : &random_process_state;
}

uint32_t random_expand(uint32_t previous, uint32_t index) {
    return 1812433253u * (previous ^ (previous >> 30)) + index;
}

// [0, 1], both ends reachable.
double random_unit(Random* state) {
    return random_u32(state) / 4294967295.0;
}

} // namespace

void random_seed(Random* state, uint32_t seed) {
    Random* r = random_state(state);
    r->w[0] = random_expand(seed, 0);
    r->w[1] = random_expand(r->w[0], 1);
    r->w[2] = random_expand(r->w[1], 2);
    r->w[3] = random_expand(r->w[2], 3);
}

uint32_t random_u32(Random* state) {
    Random* r = random_state(state);
    uint32_t t = r->w[0] ^ (r->w[0] << 11);
    r->w[0] = r->w[1];
    r->w[1] = r->w[2];
    r->w[2] = r->w[3];
    r->w[3] = r->w[3] ^ (r->w[3] >> 19) ^ t ^ (t >> 8);
    return r->w[3];
}

// An empty range (a modulus of 0) would trap on division; it yields its
// only sensible value instead. The generator still advances.
uint32_t random_range(Random* state, uint32_t low, uint32_t high) {
    uint32_t value = random_u32(state);
    uint32_t width = high - low;
    return width == 0 ? low : low + value % width;
}

int32_t random_spread(Random* state, int32_t centre, int32_t spread) {
    // Unsigned arithmetic wraps where the signed form would overflow.
    uint32_t draw = random_u32(state);
    uint32_t width = 2u * static_cast<uint32_t>(spread);
    if (width == 0) {
        return centre;
    }
    uint32_t value = draw % width - static_cast<uint32_t>(spread) + static_cast<uint32_t>(centre);
    return static_cast<int32_t>(value);
}

float random_range_float(Random* state, float low, float high) {
    double u = random_unit(state);
    return static_cast<float>(low + u * (static_cast<double>(high) - low));
}

float random_spread_float(Random* state, float centre, float spread) {
    double u = random_unit(state);
    return static_cast<float>((static_cast<double>(centre) - spread) + 2.0 * u * spread);
}
