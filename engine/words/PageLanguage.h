#pragma once

#include <map>
#include <string>
#include <string_view>

struct sb_stemmer;

// The language of a page: the primary subtag of what it declares, else what its text is
// detected to be in.

// The primary subtag of a language tag, lower-cased ("pt-BR" gives "pt"); "" when it is
// not two or three ASCII letters.
std::string primaryLanguage(std::string_view tag);

// The language UTF-8 text is written in, as a primary subtag ("de", "ja"); "" when the
// detector is not sure. A first KiB that is plainly English (isPlainlyEnglish) is taken
// as English without the detector; else the detector reads the first KiB, and up to the
// first 4 KiB unless the first is wholly in one language.
std::string detectLanguage(std::string_view utf8);

// What tells English text at a glance: its words (runs of ASCII letters), those among
// them that are common English words and no common word of another language written in
// Latin letters ("the", "which", ...), and whether every byte is ASCII.
struct EnglishMarks {
    std::size_t words = 0;
    std::size_t marks = 0;
    std::size_t foreign = 0;  // words common in another language and rare in English
    bool ascii = true;  // no character outside ASCII but common punctuation
};
EnglishMarks englishMarksOf(std::string_view utf8);

// Whether text is plainly English: ASCII alone (no letter of another language's
// alphabet), at least kMinWords words, and at least kMarkPercent of them marks of
// English. Linear in the text and far cheaper than the detector, which such text only
// ever gave English, wholly (bench/RESULTS.md).
bool isPlainlyEnglish(std::string_view utf8);

// Snowball stemmers by language, each made on first use. A stemmer is not thread-safe:
// each thread keeps its own Stemmers.
class Stemmers {
public:
    Stemmers() = default;
    ~Stemmers();
    Stemmers(const Stemmers&) = delete;
    Stemmers& operator=(const Stemmers&) = delete;

    // Whether language (a primary subtag) has a stemmer.
    bool has(const std::string& language);

    // The stem of a case-folded UTF-8 word in language; false when it has no stemmer.
    bool stem(const std::string& language, std::string_view word, std::string& stem);

private:
    sb_stemmer* find(const std::string& language);

    std::map<std::string, sb_stemmer*> m_stemmers;  // null for a language without one
};
