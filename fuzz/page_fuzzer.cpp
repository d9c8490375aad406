// libFuzzer target for the page path: one input is the bytes of a page file, whose text
// ends at its first NUL byte. The scanners must agree with the pattern library on it, by
// the same reference that the differential test uses, and the page's text must come out
// as the inside of a script string that a browser can load. The keys of its words are
// well-formed UTF-8 of 1 to 64 UTF-16 code units, and its text is cut into the same
// tokens with and without the word rules' ASCII shortcut.

#include "PageContent.h"
#include "PageTerms.h"
#include "ScannerReference.h"
#include "Utf8Sequence.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string page(reinterpret_cast<const char*>(data), size);
    const std::string difference = ScannerReference::firstDifference(page.substr(0, page.find('\0')));
    if (!difference.empty()) {
        std::fprintf(stderr, "page_fuzzer: the scanners differ from the pattern library on %s\n",
                     difference.substr(0, 4000).c_str());
        std::abort();
    }
    const PageContent content = extractPageContent(page.substr(0, page.find('\0')), ContentMode::AllContent);
    static TermCounter counter("");
    PageTerms terms;
    counter.countPage(content, terms);
    // The ASCII shortcut of the word rules cuts the page's text exactly as ICU does.
    static WordRules::TextCutter fast, byIcu;
    const std::string_view body = std::string_view(content.placed.body).substr(0, 64 * 1024);
    fast.cut(body);
    byIcu.cutByIcu(body);
    bool same = fast.tokens().size() == byIcu.tokens().size();
    for (std::size_t i = 0; same && i < fast.tokens().size(); ++i)
        same = fast.tokens()[i].kind == byIcu.tokens()[i].kind
            && fast.textOf(fast.tokens()[i]) == byIcu.textOf(byIcu.tokens()[i]);
    if (!same) {
        std::fprintf(stderr, "page_fuzzer: the ASCII shortcut cuts the text unlike ICU\n");
        std::abort();
    }
    const PageWords& keys = terms.keys;
    for (const auto& entry : keys.entries()) {
        const std::string_view key = keys.wordOf(entry);
        std::size_t units = 0;
        for (std::size_t at = 0; at < key.size();) {
            const auto [code, length] = decodeUtf8(key, at);
            if (length == 0) {
                std::fprintf(stderr, "page_fuzzer: a key is not well-formed UTF-8\n");
                std::abort();
            }
            units += code >= 0x10000 ? 2 : 1;
            at += length;
        }
        if (units == 0 || units > WordRules::kMaxKeyUnits) {
            std::fprintf(stderr, "page_fuzzer: a key of %zu UTF-16 code units\n", units);
            std::abort();
        }
    }
    // No raw control byte, quote or lone backslash, so "..." around it is one string.
    const std::string& text = content.scriptText;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\' && i + 1 < text.size()) {
            ++i;
        } else if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F) {
            std::fprintf(stderr, "page_fuzzer: byte %u of the page text at %zu is not escaped\n", c, i);
            std::abort();
        }
    }
    return 0;
}
