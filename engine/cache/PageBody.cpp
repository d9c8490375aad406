// The cached body of a page: its words, keys and stems as bytes.

#include "PageBody.h"

#include "CacheRecords.h"

namespace {
void writeWords(RecordWriter& out, const PageWords& words)
{
    out.number<std::uint64_t>(words.size());
    for (const auto& entry : words.entries()) {
        out.text(words.wordOf(entry));
        for (std::int64_t count : {entry.value.keywordOrTitle, entry.value.other, entry.value.h1, entry.value.h2,
                                   entry.value.h3, entry.value.link})
            out.varint(static_cast<std::uint64_t>(count));
    }
}

void readWords(RecordReader& in, PageWords& words)
{
    words.reset();
    for (std::uint64_t n = in.count(6); n > 0 && !in.failed(); --n) {
        WordCounts& counts = words.findOrInsert(in.text());
        for (std::int64_t* count :
             {&counts.keywordOrTitle, &counts.other, &counts.h1, &counts.h2, &counts.h3, &counts.link})
            *count = static_cast<std::int64_t>(in.varint());
    }
}

// About the bytes writeWords() takes for words: each word with its length and six
// small counts.
std::size_t wordsBytes(const PageWords& words)
{
    std::size_t bytes = sizeof(std::uint64_t);
    for (const auto& entry : words.entries())
        bytes += entry.length + 8;
    return bytes;
}
}  // namespace

void writePageBody(const PageWords& words, const PageTerms* terms, std::string& out)
{
    std::size_t bytes = wordsBytes(words) + 1;
    if (terms) {
        bytes += wordsBytes(terms->keys) + sizeof(std::uint64_t) + 2 + terms->language.size();
        for (const auto& entry : terms->stemmedKeys.entries())
            bytes += entry.length + 2;
    }
    out.reserve(out.size() + bytes);
    RecordWriter record(out);
    writeWords(record, words);
    record.number<std::uint8_t>(terms != nullptr);
    if (terms) {
        writeWords(record, terms->keys);
        record.number<std::uint64_t>(terms->stemmedKeys.size());
        for (const auto& entry : terms->stemmedKeys.entries())
            record.text(terms->stemmedKeys.wordOf(entry));
        record.number<std::uint8_t>(terms->englishPlurals);
        record.text(terms->language);
    }
}

bool readPageBody(std::string_view bytes, PageBody& body)
{
    RecordReader in(bytes);
    readWords(in, body.words);
    if (in.number<std::uint8_t>()) {
        readWords(in, body.terms.keys);
        body.terms.stemmedKeys.reset();
        for (std::uint64_t n = in.count(1); n > 0 && !in.failed(); --n)
            body.terms.stemmedKeys.findOrInsert(in.text());
        body.terms.englishPlurals = in.number<std::uint8_t>() != 0;
        body.terms.language = in.text();
    }
    return !in.failed() && in.atEnd();
}
