#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The rules by which text in any script is cut into the keys of the companion word
// index (docs/word-rules.md): NFKC, words of spaced scripts, characters and pairs of
// unspaced ones (Han, kana, Hangul, Thai and the like), full case folding, accents
// folded as readers type them. The search page cuts a query by the same rules.
namespace WordRules {

// Keys are cut to this many UTF-16 code units, as the search page cuts query words.
constexpr std::size_t kMaxKeyUnits = 64;

// The keys a case-folded word is found by: its key with accents folded and, for a Latin
// word that had ä, ö or ü, the German spelling with ae, oe and ue (else "").
struct WordKeys {
    std::string key;
    std::string germanKey;
};
WordKeys keysOfWord(std::string_view casefolded);

// A text folded as a key: case folded, then accents folded as keysOfWord() does. Stems
// are folded this way.
std::string foldKey(std::string_view utf8);

// Every key of text in the order the indexer takes them: a word's key, then its German
// spelling; an unspaced run's characters and pairs.
std::vector<std::string> indexKeys(std::string_view utf8);

// Compares two UTF-8 strings by their UTF-16 code units, as JavaScript's "<" does.
bool lessByUtf16(std::string_view a, std::string_view b);

// The UTF-16 units of UTF-8 text (a broken sequence as U+FFFD), into out.
void fromUtf8(std::string_view utf8, std::u16string& out);

// Cuts text into tokens: the words of spaced scripts, case-folded with their accents
// kept (keysOfWord() gives their keys), and the characters and pairs of unspaced runs,
// which are keys as they stand. Keeps its buffers from text to text; one per thread.
class TextCutter {
public:
    enum Kind : unsigned char { Word, Unspaced };
    struct Token {
        Kind kind;
        std::size_t begin, end;  // of its text in text()
        bool pair = false;       // an unspaced pair, not one character
    };

    // Takes the tokens of a text one by one.
    class TokenSink {
    public:
        virtual void token(Kind kind, std::string_view text) = 0;
        // A word of ASCII alone, as cut() finds most words: token(Word, word) unless the
        // sink, knowing it ASCII, takes it another way.
        virtual void asciiWord(std::string_view word) { token(Word, word); }

    protected:
        ~TokenSink() = default;
    };

    // Cuts UTF-8 text (invalid bytes read as U+FFFD) into tokens(), in text order,
    // replacing those of the last text. Linear in the length of the text.
    void cut(std::string_view utf8);
    // The same tokens handed to sink as they are found, none kept: the text of one is
    // valid only during its call. Words of ASCII alone, most of most pages, are neither
    // copied into a list nor read back from it.
    void cut(std::string_view utf8, TokenSink& sink);
    // The same, every character read through ICU: what cut() must always agree with.
    void cutByIcu(std::string_view utf8);

    const std::vector<Token>& tokens() const { return m_tokens; }
    std::string_view textOf(const Token& token) const
    {
        return std::string_view(m_text).substr(token.begin, token.end - token.begin);
    }

private:
    // Cuts utf8 into tokens(), or hands them to sink when there is one.
    void cutInto(std::string_view utf8, TokenSink* sink);
    // Appends the tokens of utf8, read through ICU.
    void cutUnicode(std::string_view utf8);
    // Hands the tokens listed to sink, and empties the list.
    void handOver(TokenSink& sink);

    std::u16string m_units;  // the text after NFKC
    std::vector<Token> m_tokens;
    std::string m_text;  // the tokens' texts, one after another
    char m_word[2 * kMaxKeyUnits];  // an ASCII word on its way to a sink, lower-cased
};

}  // namespace WordRules
