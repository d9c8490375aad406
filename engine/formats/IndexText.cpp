// The byte layout of the design's two index files, indexed_words.js and indexed_docs.js,
// and the escaping and date format they use.

#include "IndexText.h"

#include "WordIndex.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace IndexText {

void appendNumber(std::string& text, std::int64_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, static_cast<std::size_t>(end - digits));
}

std::string formatPageDate(std::int64_t secondsSinceEpoch)
{
    std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
    std::tm fields{};
    if (::gmtime_r(&time, &fields) == nullptr)
        return {};
    long long year = static_cast<long long>(fields.tm_year) + 1900;
    if (year < 1 || year > 9999)
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%02d-%02d-%04lld", fields.tm_mday, fields.tm_mon + 1, year);
    return text;
}

std::string escapeString(std::string_view text, LineBreaks lineBreaks)
{
    const bool blanks = lineBreaks == LineBreaks::AsBlanks;
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '"': escaped += "\\\""; break;
        case '\n': escaped += blanks ? " " : "\\n"; break;
        case '\r': escaped += blanks ? " " : "\\r"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

bool composeWordsText(const WordIndex& index, const StopSignal& stop, std::string& text)
{
    text = kWordsTextHead;
    for (std::size_t i = 0; i < index.size(); ++i)
        if (!appendWordLine(text, index.word(i), index.documentsBegin(i), index.documentsEnd(i), stop))
            return false;
    closeWordsText(text);
    return true;
}

bool appendWordLine(std::string& text, std::string_view word, const std::int32_t* begin, const std::int32_t* end,
                    const StopSignal& stop)
{
    if (stop.requested())
        return false;
    text += "[\"";
    text += word;
    text += "\",";
    for (const std::int32_t* d = begin; d != end; ++d) {
        if (stop.requested())
            return false;
        appendNumber(text, *d);
        text += ',';
    }
    if (text.back() == ',')
        text.pop_back();
    text += "],\n";
    return true;
}

void closeWordsText(std::string& text)
{
    if (text.size() > kWordsTextHead.size())
        text.erase(text.size() - 2, 1);
    text += "];";
}

void composeDocsText(const std::vector<DocumentEntry>& documents, std::string& text)
{
    text = "var docs=[";
    for (std::size_t k = 0; k < documents.size(); ++k) {
        const DocumentEntry& entry = documents[k];
        text += '[';
        appendNumber(text, static_cast<std::int64_t>(k));
        text += ",\"";
        text += entry.title;
        text += "\",\"";
        text += escapeString(entry.location, LineBreaks::AsEscapes);
        text += "\",\"";
        text += entry.date;
        text += "\"],";
    }
    if (!documents.empty())
        text.pop_back();
    text += "];";
}

}  // namespace IndexText
