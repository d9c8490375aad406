#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

// The code point of a named character reference without its & and ;, or 0 when the
// name is not one.
char32_t namedEntity(std::string_view name);

// The code point that a byte of windows-1252 text stands for (bytes below 0x80 and from
// 0xA0 on stand for themselves).
char32_t windows1252CodePoint(unsigned char byte);

// The character reference at text[0] == '&': its code point and its length; {0, 0}
// when none starts there. Numeric references need no ";", named ones do.
std::pair<char32_t, std::size_t> readReference(std::string_view text);

// Appends text with its character references decoded (to UTF-8).
void decodeEntities(std::string_view text, std::string& out);
