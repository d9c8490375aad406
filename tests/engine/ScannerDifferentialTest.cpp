// The scanners against the pattern library (ScannerReference.h) over random texts built
// from the patterns' alphabet, texts where the library backtracks, and the example site.

#include "FolderWalker.h"
#include "PageText.h"
#include "ScannerReference.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Reports the first few texts on which the scanners differ, their bytes escaped.
void expectAgreement(const std::string& text, int& failures)
{
    const std::string difference = ScannerReference::firstDifference(text);
    std::string shown;
    for (unsigned char c : text.substr(0, 600))
        shown += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : "\\x" + std::to_string(c) + ";";
    if (!difference.empty() && ++failures <= 3)
        ADD_FAILURE() << "on \"" << shown << "\": " << difference;
}

TEST(ScannerDifferential, RandomTextsMatchTheLibrary)
{
    // Bytes, names and markup the patterns look for, and heads of META keywords tags whose
    // parts are mostly right and sometimes a near miss.
    static const std::vector<std::string> tokens = {
        "<", "<", ">", ">", "\"", "\"", "=", "/", "!", "-", "'", " ", " ", "\t", "\n", "\r", "\v", "\f", "TITLE",
        "title", "tItLe", "TITL", "META", "meta", "NAME", "KEYWORDS", "keywords", "CONTENT", "H", "h", "T", "M",
        "1", "2", "3", "9", "0", "_", "x", "z9", "a_b", "3com", "\xe9", "\x85", "\xa0", "\xff", "\x01", "<title>",
        "</TITLE>", "<TITLE >", "<title lang=en>", "< title>", "<h1>", "<H2 class=x>", "<h3>", "</h1>", "<h9 >",
        "<h0>", "<b>", "</p>", "<!-- ", " -->", "<meta name=keywords ", "content=\"", "\">", "\" >", "\"/>", "\n>",
        "a, b", "<>", "<<", ">>"};
    static const std::vector<std::vector<std::string>> metaParts = {
        {"<", "<<", "< "}, {"", " ", "\n\t"}, {"META", "meta", "METAX"}, {" ", "", "\f"}, {"NAME", "name", "NAM"},
        {"", " ", "\v"}, {"=", ""}, {"", " ", "  \r"}, {"\"", "", "'"}, {"KEYWORDS", "keywords", "KEYWORD"},
        {"\"", "", "'", "\"\""}, {" ", "", "\n", "/"}, {"CONTENT", "content", "CONTEN"}, {"", " ", "\t"},
        {"=", "==", ""}, {"", " ", "\r"}, {"\"", "", "\"\"", "'"}};
    std::mt19937 random(20261206);
    auto pick = [&random](std::size_t below) { return std::uniform_int_distribution<std::size_t>(0, below - 1)(random); };
    int failures = 0;
    for (int i = 0; i < 24000; ++i) {
        // Texts of few kinds of token as well as of many, so that rare shapes come up.
        const std::size_t kinds = 1 + pick(tokens.size()), first = pick(tokens.size() - kinds + 1);
        std::string text;
        for (std::size_t n = pick(80); n > 0; --n) {
            if (pick(8) != 0) {
                text += tokens[first + pick(kinds)];
                continue;
            }
            for (const auto& choices : metaParts)
                text += choices[pick(4) == 0 ? pick(choices.size()) : 0];
        }
        expectAgreement(text, failures);
    }
}

TEST(ScannerDifferential, TextsWhereTheLibraryBacktracksMatchIt)
{
    std::string repeatedMeta;
    for (int i = 0; i < 40; ++i)
        repeatedMeta += "<META NAME=\"KEYWORDS\" CONTENT=\"";
    const std::string texts[] = {
        "", "<", "<>", "<><", "<><>", "<title>a</title>", "<title>a</title", "<title>a<b>c<title>d<e",
        "<title>a<title>b</title>", "<TITLE x=\"y\">a b</TITLE ><p>", "< \t\r\n\v\ftitle \f>x<\v>", "<titlex>a<b>",
        "<title<a>b<c>", "<a <b>c<d>", "<a>b c<d<e>", "<h1>one<b>two</b>three</h1><h10>x<y>", "<h1 >a<b> <H3>c<d>",
        "<META NAME=KEYWORDS CONTENT=a b>", "<meta name=\"keywords\" content=\"a > b",
        "<meta name=\"keywords\" content=\"a > b\" c>d\"e>", "<meta name=\"keywords\" content=\">",
        "<meta name=\"keywords\" content= \" >", "<meta name=\"keywords\" content=\"\" \t>",
        "<meta name=keywords content=a\"<meta name=keywords content=b\">",
        "<meta name=keywords content=a <meta name=keywords content=b>",
        "<meta  name =  \"keywords\"  content =  \"a\">", "<meta name= \"keywords\"content=\"a\">",
        "<metaname=keywordscontent=a>", "caf\xe9 na\xefve x86_64 3com 2003 _init __ a1b2",
        repeatedMeta, repeatedMeta + "x\">", repeatedMeta + "x>y\"",
        std::string(300, '<') + ">" + std::string(300, '<') + "a>",
        std::string(200, '>') + "<" + std::string(200, ' ') + "title" + std::string(200, ' ') + ">t<u>",
    };
    int failures = 0;
    for (const std::string& text : texts)
        expectAgreement(text, failures);
}

TEST(ScannerDifferential, ExampleSitePagesMatchTheLibrary)
{
    FolderWalker walker(EXAMPLE_SITE_DIR);
    PageItem page;
    int pages = 0, failures = 0;
    for (PageText text; walker.next(page); ++pages) {
        ASSERT_EQ(text.read(page.path), PageRead::Read) << page.path;
        expectAgreement(std::string(text.text()), failures);
    }
    EXPECT_GE(pages, 10);
}

}  // namespace
