// The cached body of a page: its words, keys and stems as bytes.

#include "PageBody.h"

#include "CacheRecords.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {
// Writes a body's records straight into the memory of its string. A body holds a record
// of eight fields for every word of its page: appending each field through
// RecordWriter cost more than the rest of the page's cache entry. The bytes are those
// RecordWriter writes: numbers in the machine's order, varints, texts led by their length.
class BodyWriter {
public:
    // Room for about expected bytes more is made at once; more is made as records need it.
    BodyWriter(std::string& out, std::size_t expected) : m_out(out), m_at(out.size())
    {
        m_out.resize(m_at + expected + kMostRecordBytes);
    }
    ~BodyWriter() { m_out.resize(m_at); }
    BodyWriter(const BodyWriter&) = delete;
    BodyWriter& operator=(const BodyWriter&) = delete;

    // The longest a record of a word's counts can be besides its word: its length and
    // six counts, ten bytes each at most.
    static constexpr std::size_t kMostRecordBytes = 7 * 10;

    // Makes room for a record of bytes bytes at most.
    void room(std::size_t bytes)
    {
        if (m_at + bytes > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_at + bytes));
    }
    template <typename Number>
    void number(Number value)
    {
        room(sizeof value);
        std::memcpy(&m_out[m_at], &value, sizeof value);
        m_at += sizeof value;
    }
    // Within room() made before.
    void varint(std::uint64_t value)
    {
        char* p = &m_out[m_at];
        char* const start = p;
        for (; value >= 0x80; value >>= 7)
            *p++ = static_cast<char>((value & 0x7F) | 0x80);
        *p++ = static_cast<char>(value);
        m_at += static_cast<std::size_t>(p - start);
    }
    void text(std::string_view value)
    {
        room(value.size() + 10);
        varint(value.size());
        if (!value.empty())
            std::memcpy(&m_out[m_at], value.data(), value.size());
        m_at += value.size();
    }

private:
    std::string& m_out;
    std::size_t m_at;  // where the next byte goes; m_out's bytes past it are room
};

void writeWords(BodyWriter& out, const PageWords& words)
{
    out.number<std::uint64_t>(words.size());
    for (const auto& entry : words.entries()) {
        out.room(entry.length + BodyWriter::kMostRecordBytes);
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
    BodyWriter record(out, bytes);
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
