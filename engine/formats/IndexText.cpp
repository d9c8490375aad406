// The byte layout of the design's two index files, indexed_words.js and indexed_docs.js,
// and the escaping and date format they use.

#include "IndexText.h"

#include "WordIndex.h"

#include <charconv>

namespace IndexText {

void appendNumber(std::string& text, std::int64_t value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, static_cast<std::size_t>(end - digits));
}

std::string formatPageDate(std::int64_t secondsSinceEpoch)
{
    // The UTC day, in the proleptic Gregorian calendar as gmtime() counts it, worked out
    // from the whole days since 1970-01-01: every page's entry is dated here, and the C
    // library's conversion and formatting cost a hundred times more.
    constexpr std::int64_t kSecondsADay = 86400;
    constexpr std::int64_t kFirstDay = -719162;  // 0001-01-01
    constexpr std::int64_t kLastDay = 2932896;   // 9999-12-31
    std::int64_t days = secondsSinceEpoch / kSecondsADay;
    if (secondsSinceEpoch % kSecondsADay < 0)
        --days;
    if (days < kFirstDay || days > kLastDay)
        return {};
    // Years of 400 (146,097 days) counted from 0000-03-01, so that a leap day ends its year.
    days += 719468;
    const std::int64_t era = days / 146097;  // not negative past year 1
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const auto month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    const auto year = static_cast<int>(era * 400 + yearOfEra + (month <= 2 ? 1 : 0));
    const char text[] = {static_cast<char>('0' + day / 10), static_cast<char>('0' + day % 10), '-',
                         static_cast<char>('0' + month / 10), static_cast<char>('0' + month % 10), '-',
                         static_cast<char>('0' + year / 1000), static_cast<char>('0' + year / 100 % 10),
                         static_cast<char>('0' + year / 10 % 10), static_cast<char>('0' + year % 10)};
    return std::string(text, sizeof text);
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

void closeWordsText(std::string& text, bool linesBefore)
{
    if (linesBefore || text.size() > kWordsTextHead.size())
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
