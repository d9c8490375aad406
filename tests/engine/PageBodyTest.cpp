// A page's cached body: written straight into its string, it holds the bytes that the
// cache's record writer gives field by field (the layout readPageBody reads).

#include "CacheRecords.h"
#include "PageBody.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

void writeWordsByRecords(RecordWriter& out, const PageWords& words)
{
    out.number<std::uint64_t>(words.size());
    for (const auto& entry : words.entries()) {
        out.text(words.wordOf(entry));
        for (std::int64_t count : {entry.value.keywordOrTitle, entry.value.other, entry.value.h1, entry.value.h2,
                                   entry.value.h3, entry.value.link})
            out.varint(static_cast<std::uint64_t>(count));
    }
}

// The body's layout, field by field through the record writer.
std::string bodyByRecords(const PageWords& words, const PageTerms* terms)
{
    std::string bytes;
    RecordWriter out(bytes);
    writeWordsByRecords(out, words);
    out.number<std::uint8_t>(terms != nullptr);
    if (terms) {
        writeWordsByRecords(out, terms->keys);
        out.number<std::uint64_t>(terms->stemmedKeys.size());
        for (const auto& entry : terms->stemmedKeys.entries())
            out.text(terms->stemmedKeys.wordOf(entry));
        out.number<std::uint8_t>(terms->englishPlurals);
        out.text(terms->language);
    }
    return bytes;
}

}  // namespace

TEST(PageBody, HoldsTheRecordLayout)
{
    struct Case {
        const char* label;
        int words;
        std::size_t wordBytes;
        std::int64_t count;  // each word's running-text count, and more in its other places
        bool withTerms;
    };
    const Case cases[] = {
        {"no words", 0, 0, 0, false},
        {"short words, small counts", 40, 6, 1, false},
        {"with keys and stems", 40, 6, 3, true},
        {"words of 200 bytes: two-byte lengths", 30, 200, 2, true},
        {"counts of many bytes, beyond the room made first", 3000, 3, std::int64_t{1} << 60, true},
    };
    for (const Case& c : cases) {
        PageWords words;
        PageTerms terms;
        for (int i = 0; i < c.words; ++i) {
            std::string word = std::to_string(i) + "w";
            word.resize(c.wordBytes > word.size() ? c.wordBytes : word.size(), 'x');
            WordCounts& counts = words.findOrInsert(word);
            counts.other = c.count;
            counts.link = c.count + 1;
            counts.h2 = 200;
            WordCounts& keys = terms.keys.findOrInsert(word + "k");
            keys.keywordOrTitle = c.count;
            keys.h3 = 128;
            addStemmedKey(word, word + "k", terms.stemmedKeys);
        }
        terms.englishPlurals = true;
        terms.language = "de";
        const PageTerms* given = c.withTerms ? &terms : nullptr;

        std::string out = "bytes before";
        writePageBody(words, given, out);
        EXPECT_EQ(out, "bytes before" + bodyByRecords(words, given)) << c.label;
    }
}
