// Seeded edits of a text for the parsers' fuzz tests.
#pragma once
#include <cstddef>
#include <iterator>
#include <random>
#include <string>

namespace sorv::test {

// `s` with 1 to `maxEdits` edits, each a token inserted, one to three bytes taken out, a byte
// changed to any value, or a printable character inserted.
template <class Tokens>
std::string mutateText(std::mt19937& rng, std::string s, const Tokens& tokens, unsigned maxEdits) {
    const int edits = 1 + static_cast<int>(rng() % maxEdits);
    for (int e = 0; e < edits; ++e) {
        std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 4) {
        case 0:
            s.insert(at, tokens[rng() % std::size(tokens)]);
            break;
        case 1:
            if (at < s.size()) s.erase(at, 1 + rng() % 3);
            break;
        case 2:
            if (at < s.size()) s[at] = static_cast<char>(rng() % 256);
            break;
        default:
            s.insert(at, 1, static_cast<char>(32 + rng() % 95));
            break;
        }
    }
    return s;
}

} // namespace sorv::test
