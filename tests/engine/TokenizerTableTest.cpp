// Splits every input of the shared tokenizer table (tests/data/tokenizer-cases.tsv) into
// words. The search page's tests read the same table, so the page and the indexer cannot
// drift apart.

#include "WordCounting.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// Resolves \t \n \r \\ and \xHH; false on any other escape.
bool unescape(const std::string& text, std::string& out)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char kind = ++i < text.size() ? text[i] : '?';
        const std::string hex = kind == 'x' ? text.substr(i + 1, 2) : "";
        if (kind == 'x' && hex.size() == 2 && hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
            out += static_cast<char>(std::strtol(hex.c_str(), nullptr, 16));
            i += 2;
        } else if (std::string("tnr\\").find(kind) != std::string::npos) {
            out += kind == 't' ? '\t' : kind == 'n' ? '\n' : kind == 'r' ? '\r' : '\\';
        } else {
            return false;
        }
    }
    return true;
}

TEST(TokenizerTable, EngineSplitsEveryInputAsListed)
{
    std::ifstream table(std::string(TEST_DATA_DIR) + "/tokenizer-cases.tsv", std::ios::binary);
    ASSERT_TRUE(table.good());
    int cases = 0;
    std::string line;
    for (int number = 1; std::getline(table, line); ++number) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = line.find('\t');
        std::string input;
        ASSERT_TRUE(tab != std::string::npos && unescape(line.substr(0, tab), input)) << "malformed line " << number;
        std::istringstream listed(line.substr(tab + 1));
        std::vector<std::string> expected;
        for (std::string word; listed >> word;)
            expected.push_back(word);
        EXPECT_EQ(extractWords(toUpper(input)), expected) << "table line " << number;
        ++cases;
    }
    EXPECT_GE(cases, 20);
}

}  // namespace
