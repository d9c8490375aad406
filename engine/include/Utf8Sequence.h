#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

// The one UTF-8 decoder of the engine and its front ends: the code point of the
// well-formed sequence at text[at] (no overlong form, no surrogate, nothing above
// U+10FFFF) and its length in bytes; {0, 0} when none starts there.
std::pair<char32_t, std::size_t> decodeUtf8(std::string_view text, std::size_t at);
