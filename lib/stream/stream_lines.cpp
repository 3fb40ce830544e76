#include <cstring>

#include "stream/stream.h"

uint32_t read_line(Stream* stream, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    uint32_t count = 0;
    // One byte per read: the rest of the stream must stay where it is for
    // the next line, and callers tell an empty line from the end by state.
    while (count + 1 < size) {
        if (stream_state(stream) != STREAM_STATE_MORE) {
            break;
        }
        unsigned char byte = 0;
        if (stream_read(stream, &byte, 1) != 1) {
            break;
        }
        if (byte == '\r') {
            unsigned char next = 0;
            if (stream_read(stream, &next, 1) == 1) {
                if (next == '\n') {
                    break;
                }
                byte = next; // a CR not followed by LF is dropped
            }
            // A CR that ends the stream is kept rather than lost.
        }
        buffer[count++] = static_cast<char>(byte);
    }
    buffer[count] = '\0';
    return count;
}

uint32_t write_line(Stream* stream, const char* text) {
    static const char line_end[2] = {'\r', '\n'};
    uint32_t written = stream_write(stream, text, static_cast<uint32_t>(std::strlen(text)));
    stream_write(stream, line_end, 2);
    return written;
}
