#pragma once

#include <string>
#include <string_view>

// The one escaper of text written into the scripts the search page loads: what it
// appends reads back, inside a double-quoted string, as exactly the UTF-8 text given.
// Quote and backslash are escaped, control characters and DEL as \u00XX, and U+2028 and
// U+2029 (which end a line in older scripts) as \u2028 and \u2029.

// Appends utf8 escaped, without quotes.
void appendScriptEscaped(std::string& out, std::string_view utf8);

// Appends utf8 as a double-quoted string.
void appendScriptString(std::string& out, std::string_view utf8);

// The number of bytes appendScriptString() appends for utf8, worked out without them.
std::size_t scriptStringLength(std::string_view utf8);
