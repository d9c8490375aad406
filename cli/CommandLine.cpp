#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <map>

namespace {
const char* const kDescription =
    "Builds a client-side search index for a static web site: two JavaScript data\n"
    "files and a search page that runs in any browser, from disk or a server.";

const char* const kExamples =
    "\nExamples:\n"
    "  vantrelindexer-cli site site\n"
    "      index every word of the pages under site/ and put the search page beside them\n"
    "  vantrelindexer-cli --content headers docs/html build/search\n"
    "      index titles, headers and META keywords into another folder\n"
    "  vantrelindexer-cli --path url --url-prefix https://example.org/docs site out\n"
    "      link every result to https://example.org/docs/...\n"
    "\nExit status: 0 when the index and the search page are written; 1 when they could not\n"
    "be written or the job was stopped (the old index is kept); 2 for bad usage, bad\n"
    "folders, files of the site's own in the way or a folder in DESTINATION that is not\n"
    "the program's own; 130 after a second Ctrl-C.";

// The largest --threads that makes sense: pages are read and parsed, nothing more.
constexpr unsigned kMostThreads = 256;
}  // namespace

int parseCommandLine(int argc, char** argv, CommandLine& commandLine)
{
    JobSettings& job = commandLine.job;
    CLI::App app{kDescription, "vantrelindexer-cli"};
    app.footer(kExamples);
    app.get_formatter()->column_width(26);
    // The values are checked as names and mapped after parsing, so that a message about
    // a mistyped value lists names, never the enumerations' bytes.
    const std::map<std::string, ContentMode> contentModes = {
        {"keywords", ContentMode::Keywords},
        {"titles", ContentMode::KeywordsTitles},
        {"headers", ContentMode::KeywordsTitlesHeaders},
        {"all", ContentMode::AllContent}};
    const std::map<std::string, PathMode> pathModes = {
        {"relative", PathMode::RelativePath}, {"full", PathMode::FullPath}, {"url", PathMode::UrlPrefix}};
    bool verbose = false, quiet = false, patternLibrary = false, stayInside = false;
    std::string content = "all", path = "relative";
    auto names = [](const auto& modes) {
        std::vector<std::string> list;
        for (const auto& mode : modes)
            list.push_back(mode.first);
        return list;
    };

    app.add_option("SOURCE", job.sourceFolder, "Folder holding the site's HTML pages (*.htm*)")->required();
    app.add_option("DESTINATION", job.destinationFolder,
                   "Folder that receives the index and the search page (made if missing)")
        ->required();
    app.add_option("--content", content,
                   "What to index: META keywords only; plus titles; plus titles and headers; all text")
        ->check(CLI::IsMember(names(contentModes)))
        ->option_text("keywords|titles|headers|all (default: all)");
    app.add_option("--path", path,
                   "How results link to pages: relative to SOURCE, full path, or --url-prefix + relative")
        ->check(CLI::IsMember(names(pathModes)))
        ->option_text("relative|full|url (default: relative)");
    auto* urlPrefixOption = app.add_option("--url-prefix", job.urlPrefix, "Prefix of every page's link (with --path url)")
        ->option_text("TEXT");
    auto* verboseFlag = app.add_flag("--verbose,-v", verbose, "Print every progress line");
    app.add_flag("--quiet,-q", quiet, "Print nothing but errors")->excludes(verboseFlag);
    app.add_option("--log", commandLine.logPath, "Write the progress lines to FILE")->option_text("FILE");
    app.add_option("--threads", job.threadCount, "Pages parsed at once (default 0: one per processor)")
        ->check(CLI::Range(0u, kMostThreads))
        ->option_text("0-256");
    app.add_flag("--overwrite", job.overwrite,
                 "Replace files in DESTINATION named like the search page's that the program did not write");
    app.add_flag("--follow-outside", job.followOutside,
                 "Also index pages and folders that symbolic links lead to outside SOURCE (skipped by default)");
    app.add_flag("--stay-inside", stayInside, "Skip what links lead to outside SOURCE (the default)")
        ->excludes("--follow-outside");
    bool plain = false;
    app.add_flag("--plain", plain,
                 "Write only indexed_docs.js and indexed_words.js besides the search page: no real titles, "
                 "summaries or page texts");
    app.add_option("--language", job.language,
                   "The language of every page, for stemming its words (default: each page's declared "
                   "language, else the one its text is detected to be in)")
        ->check(CLI::Validator(
            [](const std::string& code) {
                // A language tag: two or three letters, then letter-and-digit subtags.
                std::size_t letters = 0;
                while (letters < code.size() && std::isalpha(static_cast<unsigned char>(code[letters])))
                    ++letters;
                bool valid = letters == 2 || letters == 3;
                for (std::size_t i = letters; valid && i < code.size(); ++i)
                    valid = std::isalnum(static_cast<unsigned char>(code[i])) || code[i] == '-';
                return valid ? std::string() : "a language code such as en, de, fr, ru or ja is needed";
            },
            "CODE"))
        ->option_text("CODE");
    app.add_flag("--no-cache", commandLine.noCache,
                 "Read every page: neither use nor keep the cache of what each page gave (kept by default in "
                 "$XDG_CACHE_HOME/vantrelindexer, private to the user; a run with it writes the same files)");
    app.add_flag("--watch", commandLine.watch,
                 "Index, then watch SOURCE and index again once changes have settled (pages that did not change "
                 "are not read again); Ctrl-C ends it");
    app.add_option("--exclude", job.excludes,
                   "Leave out the pages and folders GLOB matches, relative to SOURCE, as a line of its "
                   ".vantrelignore would (repeatable; \"*\", \"?\", \"[...]\", \"**\", a trailing \"/\" for folders)")
        ->option_text("GLOB")
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--pattern-library", patternLibrary,
                 "Match with the regular expression library instead of the scanners (slower)");
    app.set_version_flag("--version", "vantrelindexer-cli " VANTREL_VERSION);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0)
            return app.exit(error);
        // The message may quote what was typed: shown printable, like every name.
        std::fprintf(stderr, "%s\nRun with --help for more information.\n", printableText(error.what()).c_str());
        return 2;
    }
    job.contentMode = contentModes.at(content);
    job.pathMode = pathModes.at(path);
    if (urlPrefixOption->count() > 0 && job.pathMode != PathMode::UrlPrefix) {
        std::fprintf(stderr, "--url-prefix is used only with --path url: give --path url too, or leave "
                             "--url-prefix out.\n");
        return 2;
    }
    commandLine.output = quiet ? Output::Quiet : verbose ? Output::Verbose : Output::Status;
    job.patternMatcher = patternLibrary ? PatternMatcher::RegexLibrary : PatternMatcher::Scanner;
    job.companionData = !plain;
    return -1;
}
