// The design's patterns run by Boost.Regex: the reference that the scanners are checked
// against, and a choice for users who ask for it.

#include "PagePatterns.h"

#include <exception>
#include <locale>

namespace {
std::string_view groupText(const boost::cmatch& match, int group)
{
    if (group >= static_cast<int>(match.size()) || !match[group].matched)
        return {};
    return std::string_view(match[group].first, match[group].second - match[group].first);
}

boost::regex compilePattern(const char* pattern)
{
    boost::regex regex;
    regex.imbue(std::locale::classic());
    regex.assign(pattern, boost::regex::perl | boost::regex::icase);
    return regex;
}

// Runs one pass of successive non-overlapping matches; false when the library gave up.
template <typename Handler>
bool grepPass(const boost::regex& pattern, std::string_view text, Handler&& handler)
{
    try {
        boost::regex_grep(handler, text.data(), text.data() + text.size(), pattern);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
}  // namespace

bool countKeywordMatch(const boost::cmatch& match, PageWords& pageWords)
{
    countWords(toUpper(groupText(match, 2)), WordPlace::KeywordOrTitle, pageWords);
    return true;
}

bool countTagTextMatch(const boost::cmatch& match, PageWords& pageWords)
{
    WordPlace place = placeOfTag(toUpper(groupText(match, 2)));
    countWords(toUpper(groupText(match, 4)), place, pageWords);
    return true;
}

const PagePatterns& PagePatterns::instance()
{
    static const PagePatterns patterns;
    return patterns;
}

PagePatterns::PagePatterns()
    : title(compilePattern(R"((<\s*title\s*[^>]*>)([^<]*)(<\s*[^>]*>))")),
      metaKeywords(compilePattern(
          R"((<\s*META\s*name\s?=\s*"?keywords"?\s*content\s?=\s?"?)([^"]*)("?\s*>))")),
      titleTags(compilePattern(R"((<\s*)(title[^>]*)(\s*>)([^<]*)(?=<\s*[^>]*>))")),
      titleHeaderTags(compilePattern(R"((<\s*)((?:title|h[1-9])[^>]*)(\s*>)([^<]*)(?=<\s*[^>]*>))")),
      allTags(compilePattern(R"((<\s*)([^>]*)(\s*>)([^<]*)(?=<\s*[^>]*>))")),
      word(compilePattern(R"(([A-Za-z_]+[A-Za-z0-9_]*))"))
{
}

bool PagePatterns::findTitle(std::string_view text, TitleMatch& result) const
{
    return grepPass(title, text, [&result](const boost::cmatch& match) {
        result.found = true;
        result.text = std::string_view(match[2].first, match[2].second - match[2].first);
        return true;
    });
}

bool PagePatterns::countPageWords(std::string_view text, ContentMode mode, PageWords& pageWords) const
{
    const boost::regex* second = nullptr;
    switch (mode) {
    case ContentMode::Keywords: break;
    case ContentMode::KeywordsTitles: second = &titleTags; break;
    case ContentMode::KeywordsTitlesHeaders: second = &titleHeaderTags; break;
    case ContentMode::AllContent: second = &allTags; break;
    default: return true;  // unknown options run no pass
    }
    bool complete = grepPass(metaKeywords, text, [&pageWords](const boost::cmatch& match) {
        return countKeywordMatch(match, pageWords);
    });
    if (second)
        complete &= grepPass(*second, text, [&pageWords](const boost::cmatch& match) {
            return countTagTextMatch(match, pageWords);
        });
    return complete;
}
