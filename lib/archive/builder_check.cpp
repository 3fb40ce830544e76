#include "builder_check.h"

#include <zlib.h>

struct DeflateChecker::State {
    z_stream zs{};
    bool ready = false;
    bool ended = false;
    bool failed = false;
    uint64_t produced = 0;
    uint32_t size = 0;
    unsigned char scratch[32768];
};

DeflateChecker::DeflateChecker(uint32_t size) : state_(std::make_unique<State>()) {
    state_->size = size;
    state_->ready = inflateInit(&state_->zs) == Z_OK;
    state_->failed = !state_->ready;
}

DeflateChecker::~DeflateChecker() {
    if (state_->ready) {
        inflateEnd(&state_->zs);
    }
}

void DeflateChecker::feed(const unsigned char* data, uint32_t count) {
    State& s = *state_;
    if (s.failed || s.ended) {
        return; // bytes after the end of the zlib stream carry no meaning
    }
    s.zs.next_in = const_cast<unsigned char*>(data);
    s.zs.avail_in = count;
    while (s.zs.avail_in > 0 && !s.ended && !s.failed) {
        s.zs.next_out = s.scratch;
        s.zs.avail_out = sizeof s.scratch;
        int result = inflate(&s.zs, Z_NO_FLUSH);
        s.produced += sizeof s.scratch - s.zs.avail_out;
        if (result == Z_STREAM_END) {
            s.ended = true;
        } else if (result != Z_OK || s.produced > s.size) {
            s.failed = true;
        }
    }
}

bool DeflateChecker::intact() const {
    return state_->ended && !state_->failed && state_->produced == state_->size;
}

uint64_t DeflateChecker::consumed() const {
    return state_->zs.total_in;
}

bool DeflateChecker::cut() const {
    const State& s = *state_;
    return !s.ended && !s.failed && s.produced == s.size && s.zs.avail_in == 0 &&
           s.zs.avail_out > 0; // nothing more held back
}
