// Splits every input of the shared tokenizer table (tests/data/tokenizer-cases.tsv) into
// words and compares them with the expected ones. The search page's tests read the same
// table, so the page and the indexer cannot drift apart.

#include "WordCounting.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TokenizerCase {
    int line = 0;
    std::string input;
    std::vector<std::string> words;
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Resolves \t \n \r \\ and \xHH; returns false on any other escape.
bool unescape(const std::string& text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return false;
        switch (text[i]) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            int high = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return true;
}

std::vector<TokenizerCase> readTable(const std::string& path, std::vector<std::string>& errors)
{
    std::vector<TokenizerCase> cases;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        errors.push_back("cannot open " + path);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t tab = line.find('\t');
        TokenizerCase entry;
        entry.line = number;
        if (tab == std::string::npos || !unescape(line.substr(0, tab), entry.input)) {
            errors.push_back("line " + std::to_string(number) + ": malformed");
            continue;
        }
        std::istringstream expected(line.substr(tab + 1));
        for (std::string word; expected >> word;)
            entry.words.push_back(word);
        cases.push_back(entry);
    }
    return cases;
}

}  // namespace

TEST(TokenizerTable, EngineSplitsEveryInputAsListed)
{
    std::vector<std::string> errors;
    std::vector<TokenizerCase> cases = readTable(std::string(TEST_DATA_DIR) + "/tokenizer-cases.tsv", errors);
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_GE(cases.size(), 20u);
    for (const TokenizerCase& entry : cases)
        EXPECT_EQ(extractWords(toUpper(entry.input)), entry.words) << "table line " << entry.line;
}
