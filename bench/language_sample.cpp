// What a page's detected language costs and how often a cheaper reading of its text
// changes it. For every page below each SITE folder, the detector is run on the first
// 4 KiB of the text a job gives it (the reference, as every page was detected before the
// first sample was tried) and by the engine's detectLanguage; with SAMPLE and PERCENT,
// also by a first sample of SAMPLE bytes taken when the detector is sure of it and gives
// its top language at least PERCENT of the text, else the 4 KiB (with --then-engine, else
// the engine's rule). Prints, per site, the pages, those whose language changes (by
// reference language), those on which the variant and the engine differ, and the CPU of
// each way.
//
//     language_sample [--sample BYTES --percent P [--ends | --then-engine]] SITE...
//
// Built and run by bench/language-sample.sh.

#include "PageContent.h"
#include "PageLanguage.h"

#include <cld2/public/compact_lang_det.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::size_t sampleLength(std::string_view utf8, std::size_t bytes)
{
    std::size_t length = std::min(utf8.size(), bytes);
    while (length > 0 && length < utf8.size() && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80)
        --length;
    return length;
}

// The detector on the first bytes of utf8: the language's code when it is sure, and the
// share of the text it gives the top language.
std::string detectOn(std::string_view utf8, std::size_t bytes, int* percent = nullptr)
{
    CLD2::Language languages[3];
    int percents[3] = {};
    int textBytes = 0;
    bool reliable = false;
    const CLD2::Language top = CLD2::DetectLanguageSummary(utf8.data(), static_cast<int>(sampleLength(utf8, bytes)),
                                                           true, languages, percents, &textBytes, &reliable);
    if (percent)
        *percent = percents[0];
    if (!reliable || top == CLD2::UNKNOWN_LANGUAGE)
        return {};
    return primaryLanguage(CLD2::LanguageCode(top));
}

std::string readWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string page = bytes.str();
    page.resize(std::strlen(page.c_str()));
    return page;
}

struct Tally {
    std::size_t pages = 0;
    std::map<std::string, std::size_t> changedBy, engineChangedBy;
    std::size_t changed = 0, engineChanged = 0, changedFromEngine = 0;
    double referenceCpu = 0, engineCpu = 0, variantCpu = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    std::size_t sample = 0;
    int minPercent = 0;
    bool ends = false, thenEngine = false;
    std::vector<std::string> sites;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--sample") && i + 1 < argc)
            sample = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--ends"))
            ends = true;
        else if (!std::strcmp(argv[i], "--then-engine"))
            thenEngine = true;
        else if (!std::strcmp(argv[i], "--percent") && i + 1 < argc)
            minPercent = std::atoi(argv[++i]);
        else
            sites.push_back(argv[i]);
    }
    if (sites.empty()) {
        std::fprintf(stderr, "usage: language_sample [--sample BYTES --percent P] SITE...\n");
        return 2;
    }
    std::printf("| site | pages | changed by the engine | CPU s, 4 KiB | CPU s, engine | engine / 4 KiB |%s\n",
                sample ? " changed by the variant | variant / 4 KiB | variant unlike the engine | variant / engine |" : "");
    std::printf("|---|---:|---|---:|---:|---:|%s\n", sample ? "---|---:|---:|---:|" : "");
    for (const std::string& site : sites) {
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(site, std::filesystem::directory_options::follow_directory_symlink)) {
            const std::string name = entry.path().filename().string();
            std::string upper = name;
            std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
            if (entry.is_regular_file() && upper.find(".HTM") != std::string::npos)
                paths.push_back(entry.path());
        }
        std::sort(paths.begin(), paths.end());
        std::vector<std::string> texts;
        for (const auto& path : paths) {
            const PageContent content = extractPageContent(readWhole(path));
            texts.push_back(content.scriptText.empty() ? content.title : content.scriptText);
            if (texts.back().empty())
                texts.pop_back();
        }
        Tally tally;
        tally.pages = texts.size();
        std::vector<std::string> reference, engine, variant;
        // Each way over every text in turn, twice, the second timed: the detector's
        // tables are then in the processor's caches for all of them alike.
        auto timed = [&](auto detect, std::vector<std::string>& results) {
            double cpu = 0;
            for (int round = 0; round < 2; ++round) {
                results.clear();
                const double started = cpuSeconds();
                for (const std::string& text : texts)
                    results.push_back(detect(text));
                cpu = cpuSeconds() - started;
            }
            return cpu;
        };
        tally.referenceCpu = timed([](const std::string& text) { return detectOn(text, 4096); }, reference);
        tally.engineCpu = timed([](const std::string& text) { return detectLanguage(text); }, engine);
        if (sample)
            tally.variantCpu = timed(
                [&](const std::string& text) {
                    int percent = 0;
                    std::string first = detectOn(text, sample, &percent);
                    if (first.empty() || percent < minPercent || text.size() <= sample)
                        return text.size() <= sample ? first : thenEngine ? detectLanguage(text) : detectOn(text, 4096);
                    if (ends) {
                        // The sample that ends where the whole one does must agree.
                        const std::size_t whole = sampleLength(text, 4096);
                        std::size_t from = whole > sample ? whole - sample : 0;
                        while (from > 0 && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80)
                            ++from;
                        int lastPercent = 0;
                        if (detectOn(std::string_view(text).substr(from, whole - from), sample, &lastPercent) != first
                            || lastPercent < minPercent)
                            return detectOn(text, 4096);
                    }
                    return first;
                },
                variant);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            auto change = [&](const std::string& to) {
                return (reference[i].empty() ? "?" : reference[i]) + ">" + (to.empty() ? "?" : to);
            };
            if (engine[i] != reference[i]) {
                ++tally.engineChanged;
                ++tally.engineChangedBy[change(engine[i])];
            }
            if (sample && variant[i] != engine[i])
                ++tally.changedFromEngine;
            if (sample && variant[i] != reference[i]) {
                ++tally.changed;
                ++tally.changedBy[change(variant[i])];
            }
        }
        auto list = [](std::size_t count, const std::map<std::string, std::size_t>& by) {
            std::string text = std::to_string(count);
            for (const auto& [change, pages] : by)
                text += " " + change + ":" + std::to_string(pages);
            return text;
        };
        std::printf("| %s | %zu | %s | %.3f | %.3f | %.2f |", site.c_str(), tally.pages,
                    list(tally.engineChanged, tally.engineChangedBy).c_str(), tally.referenceCpu, tally.engineCpu,
                    tally.engineCpu / tally.referenceCpu);
        if (sample)
            std::printf(" %s | %.2f | %zu | %.2f |", list(tally.changed, tally.changedBy).c_str(),
                        tally.variantCpu / tally.referenceCpu, tally.changedFromEngine, tally.variantCpu / tally.engineCpu);
        std::printf("\n");
    }
    return 0;
}
