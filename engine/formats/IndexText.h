#pragma once

#include "IndexTypes.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class WordIndex;

// The text of the two index files: "var index=[...];" and "var docs=[...];", and the
// pieces they are made of.
namespace IndexText {

// Appends value in decimal, as the classic locale writes it.
void appendNumber(std::string& text, std::int64_t value);

// The date of a modification time as "dd-MM-yyyy" in UTC, or "" outside years 1 to 9999.
std::string formatPageDate(std::int64_t secondsSinceEpoch);

// What becomes of a line feed or carriage return inside a string literal.
enum class LineBreaks {
    AsBlanks,   // titles: each becomes one blank
    AsEscapes,  // locations: "\n" and "\r", so every byte of a file name survives
};

// Text for a double-quoted JavaScript string: backslash and double quote escaped, line
// breaks as lineBreaks says, every other byte as it stands.
std::string escapeString(std::string_view text, LineBreaks lineBreaks);

// The text of indexed_words.js; false when stop was found set (before each word and
// each document number).
bool composeWordsText(const WordIndex& index, const StopSignal& stop, std::string& text);

// The same text in parts: the head, then each word's line appended (false when stop
// was found set), then the end.
constexpr std::string_view kWordsTextHead = "var index=[";
bool appendWordLine(std::string& text, std::string_view word, const std::int32_t* begin, const std::int32_t* end,
                    const StopSignal& stop);
// The end: text is the head and the lines since, or with linesBefore (the text before
// it written already) the lines since the last written, led by that one's ",\n".
void closeWordsText(std::string& text, bool linesBefore = false);

// The text of indexed_docs.js. Titles are escaped already; locations are escaped here.
void composeDocsText(const std::vector<DocumentEntry>& documents, std::string& text);

}  // namespace IndexText
