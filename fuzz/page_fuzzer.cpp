// libFuzzer target for the page path: one input is the bytes of a page file, whose text
// ends at its first NUL byte. The scanners must agree with the pattern library on it, by
// the same reference that the differential test uses.

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
    return 0;
}
