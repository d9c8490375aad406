// Globs of single file and folder names, matched in time bounded by the pattern's length
// times the name's, however hostile either is.

#include "GlobPattern.h"

#include "Utf8Sequence.h"

#include <cstring>

namespace {
// A byte that starts no UTF-8 sequence stands for itself, apart from every code point.
constexpr char32_t kRawByte = 0x110000;

// The character at text[at]: its code (or kRawByte + the byte) and its length.
std::pair<char32_t, std::size_t> characterAt(std::string_view text, std::size_t at)
{
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80)
        return {byte, 1};
    const auto decoded = decodeUtf8(text, at);
    return decoded.second ? decoded : std::pair<char32_t, std::size_t>{kRawByte + byte, 1};
}
}  // namespace

bool GlobPattern::compile(std::string_view text, std::string* error)
{
    auto failed = [error](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    m_tokens.clear();
    auto literal = [this]() -> std::string& {
        if (m_tokens.empty() || m_tokens.back().kind != Token::Literal)
            m_tokens.emplace_back();
        return m_tokens.back().literal;
    };
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        if (c == '*') {
            while (at < text.size() && text[at] == '*')
                ++at;  // a run of stars is one
            m_tokens.emplace_back();
            m_tokens.back().kind = Token::AnyRun;
        } else if (c == '?') {
            m_tokens.emplace_back();
            m_tokens.back().kind = Token::AnyOne;
            ++at;
        } else if (c == '\\') {
            if (at + 1 >= text.size())
                return failed("it ends in a lone \"\\\"");
            const std::size_t length = characterAt(text, at + 1).second;
            literal().append(text.substr(at + 1, length));
            at += 1 + length;
        } else if (c == '[') {
            Token set;
            set.kind = Token::Set;
            std::size_t i = at + 1;
            if (i < text.size() && (text[i] == '!' || text[i] == '^')) {
                set.negated = true;
                ++i;
            }
            bool closed = false;
            for (bool first = true; i < text.size(); first = false) {
                if (text[i] == ']' && !first) {
                    closed = true;
                    ++i;
                    break;
                }
                if (text[i] == '\\' && ++i >= text.size())
                    break;
                auto [low, length] = characterAt(text, i);
                i += length;
                char32_t high = low;
                if (i + 1 < text.size() && text[i] == '-' && text[i + 1] != ']') {
                    ++i;
                    if (text[i] == '\\' && ++i >= text.size())
                        break;
                    auto last = characterAt(text, i);
                    high = last.first;
                    i += last.second;
                }
                if (high < low)
                    continue;  // an empty range holds nothing
                for (char32_t code = low; code <= high && code < 128; ++code)
                    set.ascii.set(code);
                if (high >= 128)
                    set.others.push_back(Range{low < 128 ? 128 : low, high});
            }
            if (!closed)
                return failed("a \"[\" has no \"]\"");
            m_tokens.push_back(std::move(set));
            at = i;
        } else {
            const std::size_t length = characterAt(text, at).second;
            literal().append(text.substr(at, length));
            at += length;
        }
    }
    return true;
}

bool GlobPattern::setHolds(const Token& set, std::string_view name, std::size_t at, std::size_t& length) const
{
    const auto [code, size] = characterAt(name, at);
    length = size;
    bool held = code < 128 && set.ascii.test(code);
    for (std::size_t r = 0; !held && r < set.others.size(); ++r)
        held = code >= set.others[r].first && code <= set.others[r].last;
    return held != set.negated;
}

bool GlobPattern::matches(std::string_view name) const
{
    // Greedy, with one way back: to the last "*", which then takes one character more.
    // A later "*" can absorb whatever an earlier one would have, so no other choice
    // needs trying again.
    const std::size_t count = m_tokens.size();
    std::size_t token = 0, at = 0;
    std::size_t starToken = count, starAt = 0;
    while (token < count || at < name.size()) {
        if (token < count) {
            const Token& t = m_tokens[token];
            if (t.kind == Token::AnyRun) {
                starToken = token++;
                starAt = at;
                continue;
            }
            if (at < name.size()) {
                std::size_t length = 0;
                bool matched = false;
                switch (t.kind) {
                case Token::Literal:
                    length = t.literal.size();
                    matched = name.size() - at >= length && std::memcmp(name.data() + at, t.literal.data(), length) == 0;
                    break;
                case Token::AnyOne: length = characterAt(name, at).second, matched = true; break;
                case Token::Set: matched = setHolds(t, name, at, length); break;
                case Token::AnyRun: break;
                }
                if (matched) {
                    ++token;
                    at += length;
                    continue;
                }
            }
        }
        if (starToken == count || starAt >= name.size())
            return false;
        starAt += characterAt(name, starAt).second;
        token = starToken + 1;
        at = starAt;
    }
    return true;
}
