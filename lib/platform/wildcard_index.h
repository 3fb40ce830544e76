// Many wildcard pattern lists asked about many paths, with the answers of
// wildcard_match and a cost per path that grows with the path, not with the
// number of patterns. Rule files of games list thousands of patterns of a few
// shapes, so each pattern is sorted once by its shape:
//
//   "/data/a.txt"   no wildcard: a set of whole paths
//   "/bgm/*"        text then "*": a tree of beginnings, walked along the path
//   "*.ogg"         "*" then text: a tree of endings, walked back from its end
//   "*"             every path
//
// Any other pattern ("/bgm/*.ogg", "*.?a?") is checked by
// wildcard_match_single, and only for a path that holds the pattern's longest
// run of fixed text: the runs are kept by length, so one pass of each length
// over the path finds every candidate. Patterns without any fixed text are
// checked for every path.
// Texts are compared in a folded form in which a lone ASCII letter is upper
// case and a double-byte character is kept as it is, and a match must start
// and end on the path's character boundaries, as the matcher's does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Texts in folded form, byte by byte, one tree node per prefix.
struct WildcardTrie {
    struct Node {
        bool whole = false; // a pattern of the trie's own shape ends here
    };
    std::vector<Node> nodes{Node{}};              // node 0: the empty text
    std::unordered_map<uint64_t, uint32_t> edges; // (node << 8 | byte) -> node
};

// Lets the sets below be asked with a piece of a folded path, without making
// a string of it for each question.
struct WildcardTextHash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
};

struct WildcardIndex {
    bool matches_all = false;
    std::unordered_set<std::string, WildcardTextHash, std::equal_to<>> literals; // folded paths
    WildcardTrie beginnings;                   // folded, front to back
    WildcardTrie endings;                      // folded, back to front
    std::vector<std::string> others;           // patterns checked one by one
    std::unordered_set<std::string> other_set; // the same, to keep each once
    // Others by their longest run of fixed text, folded; the runs' lengths.
    std::unordered_map<std::string, std::vector<uint32_t>, WildcardTextHash, std::equal_to<>>
        by_piece;
    std::vector<size_t> piece_lengths;
    std::vector<uint32_t> unanchored; // others without fixed text
};

// Adds one pattern list, as wildcard_match reads it: ";"-separated patterns
// with leading blanks dropped, and "*.*" alone matching everything.
void wildcard_index_add(WildcardIndex& index, const char* patterns);

// text in the folded form above, into out: names that Windows takes for the
// same (they differ only in the case of ASCII letters) fold alike.
void wildcard_fold(const char* text, std::string& out);

// True when path matches any pattern list added, exactly when
// wildcard_match(path, list) is true for one of them.
bool wildcard_index_match(const WildcardIndex& index, const char* path);
