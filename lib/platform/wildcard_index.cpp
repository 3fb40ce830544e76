#include "platform/wildcard_index.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/wildcard.h"

// The folded form of text, in which a character's bytes stay where they were:
// a lone ASCII letter becomes upper case, a double-byte character is kept.
// Folding never moves a character boundary (a lone letter is no lead byte,
// and a lead byte before it would have taken it as its trail byte), so two
// texts match character by character exactly when their folded forms are
// equal. out takes length bytes; with starts given (length + 1 bytes),
// starts[i] is 1 where a character begins (and at the end).
template <bool MARK_STARTS>
static void wildcard_fold_into(const char* text, size_t length, char* out, uint8_t* starts) {
    for (size_t i = 0; i < length;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x81) {
            // No byte below 0x81 leads a double-byte character: the usual
            // path is folded without asking.
            out[i] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : static_cast<char>(c);
            if constexpr (MARK_STARTS) {
                starts[i] = 1;
            }
            ++i;
            continue;
        }
        const int n = wildcard_char_length(text + i);
        out[i] = text[i];
        if constexpr (MARK_STARTS) {
            starts[i] = 1;
        }
        if (n == 2) {
            out[i + 1] = text[i + 1];
            if constexpr (MARK_STARTS) {
                starts[i + 1] = 0;
            }
        }
        i += n;
    }
    if constexpr (MARK_STARTS) {
        starts[length] = 1;
    }
}

void wildcard_fold(const char* text, std::string& out) {
    out.resize(std::strlen(text));
    wildcard_fold_into<false>(text, out.size(), out.data(), nullptr);
}

// A path folded for one question: on the stack for paths of ordinary length,
// since a pack asks once for every file.
namespace {
struct WildcardFoldedPath {
    static constexpr size_t INLINE = 512;
    char inline_text[INLINE];
    uint8_t inline_starts[INLINE + 1];
    std::unique_ptr<char[]> heap_text;
    std::unique_ptr<uint8_t[]> heap_starts;
    std::string_view text;
    const uint8_t* starts = nullptr;

    explicit WildcardFoldedPath(const char* path) {
        const size_t length = std::strlen(path);
        char* out = inline_text;
        uint8_t* marks = inline_starts;
        if (length >= INLINE) {
            heap_text = std::make_unique<char[]>(length);
            heap_starts = std::make_unique<uint8_t[]>(length + 1);
            out = heap_text.get();
            marks = heap_starts.get();
        }
        wildcard_fold_into<true>(path, length, out, marks);
        text = std::string_view(out, length);
        starts = marks;
    }
};
} // namespace

static uint32_t wildcard_trie_node(WildcardTrie& trie, const std::string& text) {
    uint32_t node = 0;
    for (char c : text) {
        const uint64_t key = uint64_t(node) << 8 | static_cast<unsigned char>(c);
        auto found = trie.edges.find(key);
        if (found == trie.edges.end()) {
            trie.nodes.emplace_back();
            found = trie.edges.emplace(key, uint32_t(trie.nodes.size() - 1)).first;
        }
        node = found->second;
    }
    return node;
}

static bool wildcard_is_wild(const std::string& pattern, size_t at) {
    return pattern[at] == '*' || pattern[at] == '?';
}

// Sorts one pattern (no ";", leading blanks already dropped) by its shape.
static void wildcard_index_add_single(WildcardIndex& index, const std::string& pattern) {
    // Where each character starts, and the first and last wildcard. "*" and
    // "?" are never trail bytes, so they always stand alone.
    size_t first_wild = std::string::npos, last_wild = std::string::npos;
    size_t stars = 0, wilds = 0;
    for (size_t i = 0; i < pattern.size(); i += wildcard_char_length(pattern.c_str() + i)) {
        if (!wildcard_is_wild(pattern, i)) {
            continue;
        }
        first_wild = std::min(first_wild, i);
        last_wild = i;
        ++wilds;
        stars += pattern[i] == '*' ? 1 : 0;
    }
    std::string folded;
    if (wilds == 0) {
        wildcard_fold(pattern.c_str(), folded);
        index.literals.insert(folded);
        return;
    }
    const std::string head = pattern.substr(0, first_wild);
    const std::string tail = pattern.substr(last_wild + 1);
    const bool only_stars_from_first = stars == wilds && last_wild - first_wild + 1 == wilds;
    if (only_stars_from_first && head.empty() && tail.empty()) {
        index.matches_all = true;
        return;
    }
    if (only_stars_from_first && tail.empty()) {
        wildcard_fold(head.c_str(), folded);
        index.beginnings.nodes[wildcard_trie_node(index.beginnings, folded)].whole = true;
        return;
    }
    if (only_stars_from_first && head.empty()) {
        wildcard_fold(tail.c_str(), folded);
        std::reverse(folded.begin(), folded.end());
        index.endings.nodes[wildcard_trie_node(index.endings, folded)].whole = true;
        return;
    }
    if (!index.other_set.insert(pattern).second) {
        return;
    }
    const uint32_t id = uint32_t(index.others.size());
    index.others.push_back(pattern);
    // Every run of fixed text must appear in a matching path; the longest
    // lets the fewest paths through.
    std::string longest;
    for (size_t start = 0; start <= pattern.size();) {
        size_t end = start;
        while (end < pattern.size() && !wildcard_is_wild(pattern, end)) {
            end += wildcard_char_length(pattern.c_str() + end);
        }
        if (end - start > longest.size()) {
            longest = pattern.substr(start, end - start);
        }
        start = end + 1;
    }
    if (longest.empty()) {
        index.unanchored.push_back(id);
        return;
    }
    wildcard_fold(longest.c_str(), folded);
    auto& ids = index.by_piece[folded];
    ids.push_back(id);
    if (std::find(index.piece_lengths.begin(), index.piece_lengths.end(), folded.size()) ==
        index.piece_lengths.end()) {
        index.piece_lengths.push_back(folded.size());
    }
}

void wildcard_index_add(WildcardIndex& index, const char* patterns) {
    if (!patterns) {
        return;
    }
    if (std::strcmp(patterns, "*.*") == 0) {
        index.matches_all = true;
        return;
    }
    // Cut as wildcard_match walks the list: character by character, so that
    // a double-byte character is never split, and nothing after a final ";"
    // is a pattern.
    while (*patterns != '\0') {
        while (*patterns == ' ') {
            ++patterns;
        }
        const char* end = patterns;
        while (*end != '\0' && *end != ';') {
            end += wildcard_char_length(end);
        }
        wildcard_index_add_single(index, std::string(patterns, end));
        patterns = *end == ';' ? end + 1 : end;
    }
}

static bool wildcard_index_check(const WildcardIndex& index, const std::vector<uint32_t>& ids,
                                 const char* path) {
    for (uint32_t id : ids) {
        if (wildcard_match_single(path, index.others[id].c_str())) {
            return true;
        }
    }
    return false;
}

// Walks trie along the folded path, front to back or back to front: a
// pattern of the trie's shape that ends on a character boundary matches.
static bool wildcard_index_walk(const WildcardTrie& trie, std::string_view folded,
                                const uint8_t* starts, bool backwards) {
    const size_t length = folded.size();
    uint32_t node = 0;
    for (size_t step = 0; trie.nodes.size() > 1; ++step) {
        const size_t at = backwards ? length - step : step;
        if (starts[at] && trie.nodes[node].whole) {
            return true;
        }
        if (step == length) {
            break;
        }
        const unsigned char c = folded[backwards ? at - 1 : at];
        auto next = trie.edges.find(uint64_t(node) << 8 | c);
        if (next == trie.edges.end()) {
            break;
        }
        node = next->second;
    }
    return false;
}

// Checks the other patterns whose longest fixed run the path holds, each
// once. A run found off a character boundary only costs a check that fails.
static bool wildcard_index_check_pieces(const WildcardIndex& index, std::string_view folded,
                                        const char* path) {
    if (index.by_piece.empty()) {
        return false;
    }
    std::unordered_set<const std::vector<uint32_t>*> checked;
    for (size_t length : index.piece_lengths) {
        for (size_t at = 0; at + length <= folded.size(); ++at) {
            auto found = index.by_piece.find(folded.substr(at, length));
            if (found != index.by_piece.end() && checked.insert(&found->second).second &&
                wildcard_index_check(index, found->second, path)) {
                return true;
            }
        }
    }
    return false;
}

bool wildcard_index_match(const WildcardIndex& index, const char* path) {
    if (!path) {
        return false;
    }
    if (index.matches_all) {
        return true;
    }
    const WildcardFoldedPath folded(path);
    return (!index.literals.empty() && index.literals.find(folded.text) != index.literals.end()) ||
           wildcard_index_walk(index.beginnings, folded.text, folded.starts, false) ||
           wildcard_index_walk(index.endings, folded.text, folded.starts, true) ||
           wildcard_index_check_pieces(index, folded.text, path) ||
           wildcard_index_check(index, index.unanchored, path);
}
