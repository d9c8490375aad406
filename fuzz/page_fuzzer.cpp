// libFuzzer target for the page path: one input is the bytes of a page file, whose text
// ends at its first NUL byte. The scanners must agree with the pattern library on it, by
// the same reference that the differential test uses, and the page's text must come out
// as the inside of a script string that a browser can load.

#include "PageContent.h"
#include "ScannerReference.h"

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
    // No raw control byte, quote or lone backslash, so "..." around it is one string.
    const std::string text = extractPageContent(page.substr(0, page.find('\0'))).scriptText;
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
