#pragma once

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

// One glob of a file or folder name: "*" stands for any run of characters, "?" for one
// character, "[...]" for one of a set ("[a-z0-9]", "[!.]" or "[^.]" for one not in it),
// and "\" takes the next character as it stands. Characters are UTF-8 sequences where
// the name holds them, single bytes elsewhere. Matching never backtracks past the last
// "*", so it costs at most the pattern's length times the name's, whatever both hold.
class GlobPattern {
public:
    // Compiles text; false (error says why) when a "[" has no "]" or a "\" ends it.
    bool compile(std::string_view text, std::string* error = nullptr);

    bool matches(std::string_view name) const;

    // Whether the glob is "*" alone: it matches every name.
    bool matchesEveryName() const { return m_tokens.size() == 1 && m_tokens[0].kind == Token::AnyRun; }

private:
    struct Range {
        char32_t first, last;
    };
    struct Token {
        enum Kind { Literal, AnyOne, AnyRun, Set } kind = Literal;
        std::string literal;           // Literal: the bytes
        std::bitset<128> ascii;        // Set: its ASCII characters
        std::vector<Range> others;     // Set: its other characters (code points, or bytes 0x80-0xFF as such)
        bool negated = false;          // Set: matches what is not in it
    };

    bool setHolds(const Token& set, std::string_view name, std::size_t at, std::size_t& length) const;

    std::vector<Token> m_tokens;
};
