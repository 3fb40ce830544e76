// An owning handle for C++ callers that hold a stream: it closes the stream
// when it goes out of scope (a filter chain through its outermost stream).
#pragma once

#include <memory>

#include "stream/stream.h"

struct StreamCloser {
    void operator()(Stream* stream) const {
        if (stream) {
            stream_close(stream);
        }
    }
};
using StreamPtr = std::unique_ptr<Stream, StreamCloser>;
