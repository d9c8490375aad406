// How the engine's cost grows on inputs made to make it grow faster than their size, each
// timed beside an ordinary input of the same size. Ratios near 1 are what we want.
//
//  - a 1.2 MB page of nothing but repeated `<META NAME="KEYWORDS" CONTENT="` heads, against
//    a page of as many META keywords tags that close;
//  - 45,000 words of up to 7 letters chosen so that the word table's hash puts them all
//    in a few slots, against 45,000 ordinary words: in the process that chose them, and
//    in a new one, whose hash has another key. Only the first should be slow; were the
//    hash the same in every process, anybody could choose such words for a page.
//
// Built and run by bench/scaling-bench.sh.

#include "PageScanner.h"
#include "WordCounting.h"
#include "WordTable.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The best of five runs, in seconds.
template <typename Run>
double bestTime(Run run)
{
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto started = std::chrono::steady_clock::now();
        run();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    }
    return best;
}

std::string word(std::uint64_t number)
{
    std::string text = "Q";
    for (; number > 0; number /= 36)
        text += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[number % 36];
    return text;
}

// Times inserting the words against as many ordinary ones.
void compareWithOrdinary(const std::vector<std::string>& words, const char* what)
{
    std::vector<std::string> ordinary;
    for (std::uint64_t n = 1; ordinary.size() < words.size(); ++n)
        ordinary.push_back(word(n * 7919));
    auto insertAll = [](const std::vector<std::string>& all) {
        return bestTime([&all] {
            WordTable<int> table;
            for (const std::string& w : all)
                ++table.findOrInsert(w);
        });
    };
    const double chosen = insertAll(words), plain = insertAll(ordinary);
    std::printf("%zu words colliding %s: %.4f s; ordinary words: %.4f s; ratio %.2f\n", words.size(), what, chosen,
                plain, chosen / plain);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--words") == 0) {
        std::vector<std::string> words;
        std::ifstream file(argv[2]);
        for (std::string w; file >> w;)
            words.push_back(w);
        compareWithOrdinary(words, "in another process");
        return 0;
    }

    std::string heads, tags;
    while (heads.size() < 1200u << 10)
        heads += "<META NAME=\"KEYWORDS\" CONTENT=\"";
    while (tags.size() < heads.size())
        tags += "<META NAME=\"KEYWORDS\" CONTENT=\"A B\">";
    auto scan = [](const std::string& page) {
        return bestTime([&page] {
            PageWords words;
            PageScanner::countPageWords(page, ContentMode::AllContent, words);
        });
    };
    const double headsTime = scan(heads), tagsTime = scan(tags), twiceTime = scan(heads + heads);
    std::printf("repeated META heads, 1.2 MB: %.4f s; closed META tags: %.4f s; ratio %.2f\n", headsTime, tagsTime,
                headsTime / tagsTime);
    std::printf("repeated META heads, 2.4 MB: %.4f s; time per byte against 1.2 MB: %.2f\n", twiceTime,
                twiceTime / (2 * headsTime));

    // All in one slot of any table up to 4,096 slots, in 16 of a table of 65,536.
    std::vector<std::string> colliding;
    for (std::uint64_t n = 1; colliding.size() < 45000; ++n)
        if ((WordTable<int>::hashWord(word(n)) & 0xfff) == 0)
            colliding.push_back(word(n));
    compareWithOrdinary(colliding, "in the process that chose them");
    const std::string file = "/tmp/vantrel-colliding-words-" + std::to_string(::getpid());
    std::ofstream(file) << [&colliding] {
        std::string all;
        for (const std::string& w : colliding)
            all += w + "\n";
        return all;
    }();
    std::fflush(stdout);
    const int status = std::system(("'" + std::string(argv[0]) + "' --words " + file).c_str());
    std::remove(file.c_str());
    return status == 0 ? 0 : 1;
}
