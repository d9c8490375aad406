// Decoding one UTF-8 sequence, by ICU's rules of well-formed UTF-8: for page text, word
// keys and the lines the front ends show alike.

#include "Utf8Sequence.h"

#include <unicode/utf8.h>

std::pair<char32_t, std::size_t> decodeUtf8(std::string_view text, std::size_t at)
{
    if (at >= text.size())
        return {0, 0};
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    int32_t next = static_cast<int32_t>(at);
    UChar32 code;
    U8_NEXT(bytes, next, static_cast<int32_t>(text.size()), code);
    if (code < 0)
        return {0, 0};
    return {static_cast<char32_t>(code), static_cast<std::size_t>(next) - at};
}
