#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the search page's ranking reads of the titles, file names and summaries of the
// pages, key by key, so that a query needs only the entries of its own keys: the word
// shards carry them (TermsText::putPieces). The texts are cut by the word rules of the
// companion word index exactly as the page cuts them.
namespace PlaceWords {

// File-name words weighed in the rank of a page, as the page counts them.
constexpr std::size_t kMaxNameWords = 16;

struct Page {
    std::optional<std::string> title;  // the title ranking reads, none for a page without one
    std::string fileName;              // the location's last part as shown
    std::string summary;               // the summary's first units, those ranking reads
};

// Where a key stands. titles: each page whose title holds it, with the number of that
// title's telling words (its words and pairs, less those that are common), ascending by
// page. common: the key stands in more titles than max(8, a quarter of the titled
// pages), so it tells nothing about a page. names: each page whose file name holds it,
// with how often it is one of the first kMaxNameWords query words of the name without
// its extension (0: only in the extension or further on) and how many such words the
// name has. summaries: the pages whose summary holds it.
struct Entry {
    struct Titled {
        std::int32_t page;
        std::int32_t size;
    };
    struct Named {
        std::int32_t page;
        std::int32_t count;
        std::int32_t words;
    };
    std::vector<Titled> titles;
    bool common = false;
    std::vector<Named> names;
    std::vector<std::int32_t> summaries;
};

struct Utf16Less {
    bool operator()(const std::string& a, const std::string& b) const;
};
using Table = std::map<std::string, Entry, Utf16Less>;

// Whether a key is wanted in a table.
using KeyFilter = std::function<bool(std::string_view key)>;

// The table of pages, with the keys wanted keeps (all when it is null); without the
// summaries' keys when summaries is false.
Table of(const std::vector<Page>& pages, const KeyFilter& wanted = nullptr, bool summaries = true);

// The keys text gives as a query (a word's key, no second spelling; an unspaced run's
// pairs, or its one character), in order.
std::vector<std::string> queryKeys(std::string_view utf8);

}  // namespace PlaceWords
