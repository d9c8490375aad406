#pragma once

#include <string_view>

// The code point of a named character reference without its & and ;, or 0 when the
// name is not one.
char32_t namedEntity(std::string_view name);

// The code point that a byte of windows-1252 text stands for (bytes below 0x80 and from
// 0xA0 on stand for themselves).
char32_t windows1252CodePoint(unsigned char byte);
