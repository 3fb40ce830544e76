// Checks the deflated data of an entry that the builder copies as stored
// bytes: the copy skips the builder's own inflate, so a damaged source
// entry would otherwise pass into the new archive unnoticed.
#pragma once

#include <cstdint>
#include <memory>

class DeflateChecker {
  public:
    explicit DeflateChecker(uint32_t size);
    ~DeflateChecker();
    DeflateChecker(const DeflateChecker&) = delete;
    DeflateChecker& operator=(const DeflateChecker&) = delete;

    // Feeds the next unscrambled stored bytes.
    void feed(const unsigned char* data, uint32_t count);
    // True when the zlib stream ended, its Adler-32 matched, and it gave
    // exactly size bytes.
    bool intact() const;
    // True when it gave exactly size bytes and then the bytes fed ran out
    // before its end: a stream cut after its last data byte, whose content
    // reads back whole (its checksum cannot be checked).
    bool cut() const;
    // Bytes the zlib stream took up to its end; bytes fed after that carry
    // no meaning and are not part of the entry a builder writes.
    uint64_t consumed() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};
