#include <cstring>

#include "support/text.h"

uint32_t split_text(char* text, char separator, char** pieces, uint32_t maximum) {
    if (text == nullptr || pieces == nullptr || text[0] == '\0' || maximum == 0) {
        return 0;
    }
    uint32_t count = 0;
    char* position = text;
    for (;;) {
        pieces[count++] = position;
        char* found = std::strchr(position, separator);
        // A NUL separator would match the terminator; there is nothing to cut.
        if (found == nullptr || separator == '\0') {
            break;
        }
        // The last piece is still cut at its separator: what follows it is dropped.
        *found = '\0';
        if (count >= maximum) {
            break;
        }
        position = found + 1;
    }
    return count;
}
