// What the search page shows of a page: its real title, summary, text and sections, and
// the files that carry them beside the index.

#include "CompanionData.h"
#include "HtmlEntities.h"
#include "IndexEngine.h"
#include "PageContent.h"
#include "PieceStore.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string sectionsText(const PageContent& content)
{
    std::string text;
    for (const PageSection& section : content.sections)
        text += std::to_string(section.start) + " #" + section.anchor + " " + section.heading + "; ";
    return text;
}

TEST(PageContent, TitleSummaryTextAndSectionsAsAReaderSeesThem)
{
    const struct {
        const char* page;
        const char* title;
        const char* summary;
        const char* scriptText;
        const char* sections;
    } cases[] = {
        {"<title> Caf&eacute; &amp; Bar\n Menu </title><meta name=description content='A &quot;good&quot; place'>"
         "<h1 id=top>Menu</h1><p>Tea &lt;hot&gt; <b>and</b>cake&#33;</p><script>x='<p>no'</script><!-- <p>no -->"
         "<section id=s2><h2>Prices <a class=headerlink href=#s2>\xc2\xb6</a></h2><p>Cheap</p></section>",
         "Caf\xc3\xa9 & Bar Menu", "A \"good\" place", "Menu Tea <hot> andcake! Prices Cheap",
         "0 #top Menu; 24 #s2 Prices; "},
        // No description: the words after the first top heading; an anchor inside a
        // heading; the title of an inline picture is not the page's.
        {"<title>A</title><svg><title>icon</title></svg><p>Skip</p><h1>A</h1><h2><a name=n1></a>Head</h2>Body",
         "A", "Head Body", "Skip A Head Body", "5 # A; 7 #n1 Head; "},
        // Quotes, backslashes, control characters and line separators are escaped; the
        // offsets count UTF-16 code units, as scripts do.
        {"<p>\xf0\x9f\x98\x80 \"q\" back\\slash \x01 \xe2\x80\xa8</p><h3 id=x>After</h3>", "",
         "\xf0\x9f\x98\x80 \"q\" back\\slash \x01 \xe2\x80\xa8 After",
         "\xf0\x9f\x98\x80 \\\"q\\\" back\\\\slash \\u0001 \\u2028 After", "22 #x After; "},
        // Navigation is no text of the page. An anchor is a heading's when only opening
        // blocks stand between them; text or a closed block parts them.
        {"<div role=navigation><p>Next topic</p><div><h3>Menu</h3></div></div><nav>Up</nav>"
         "<a name=far></a>Intro<div><h2>Body</h2>text</div><div id=gone></div><h2>Next</h2>"
         "<section id=s><div class=titlepage><div><h2>Second</h2></div></div></section>",
         "", "Intro Body text Next Second", "Intro Body text Next Second", "6 # Body; 16 # Next; 21 #s Second; "},
        // Of the blocks that open around a heading the innermost's id is its anchor, a
        // short one after a long one too, its references decoded.
        {"<div id=an-anchor-longer-than-a-short-string><div id=b&amp;c><h2>Head</h2></div></div>", "", "Head", "Head",
         "0 #b&c Head; "},
        // Declared and guessed charsets.
        {"<meta charset=iso-8859-1><title>\xe9t\xe9</title>caf\xe9", "\xc3\xa9t\xc3\xa9", "caf\xc3\xa9", "caf\xc3\xa9", ""},
        {"<meta http-equiv=Content-Type content='text/html; charset=koi8-r'><title>\xf0\xd2\xc9\xd7\xc5\xd4</title>",
         "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "", "", ""},
        {"<title>caf\xe9 \x80</title>", "caf\xc3\xa9 \xe2\x82\xac", "", "", ""},
        {"<meta charset=no-such-charset><title>ok</title>", "ok", "", "", ""},
        // Unfinished markup ends the text, it does not hang or fail.
        {"<title>T</title><p>a<!-- open", "T", "a", "a", ""},
        {"<p>a<script>never closed", "", "a", "a", ""},
        {"<p>a<h2 id='never closed>b", "", "a", "a", "2 #never closed>b ; "},
    };
    for (const auto& c : cases) {
        PageContent content = extractPageContent(c.page);
        EXPECT_EQ(content.title, c.title) << c.page;
        EXPECT_EQ(content.summary, c.summary) << c.page;
        EXPECT_EQ(content.scriptText, c.scriptText) << c.page;
        EXPECT_EQ(sectionsText(content), c.sections) << c.page;
    }
}

// Named references are found by their exact name: the first and last of the table, the
// longest, and names that differ from one by case, a byte, a byte more or fewer, or a
// NUL at the end.
TEST(PageContent, NamedReferencesAreFoundByTheirWholeName)
{
    const std::pair<std::string_view, char32_t> names[] = {
        {"AElig", 0xC6}, {"zwnj", 0x200C}, {"thetasym", 0x3D1}, {"amp", '&'}, {"apos", '\''}, {"Mu", 0x39C},
        {"mu", 0x3BC}, {"Amp", 0}, {"am", 0}, {"ampx", 0}, {"thetasymx", 0}, {"", 0},
        {std::string_view("amp\0", 4), 0}, {std::string_view("mu\0\0\0\0\0\0", 8), 0}};
    for (const auto& [name, code] : names)
        EXPECT_EQ(namedEntity(name), code) << name;
    const std::pair<std::string_view, std::pair<char32_t, std::size_t>> references[] = {
        {"&lt;p", {'<', 4}}, {"&thetasym;", {0x3D1, 10}}, {"&lt p", {0, 0}}, {"&notanentity;", {0, 0}}};
    for (const auto& [text, read] : references)
        EXPECT_EQ(readReference(text), read) << text;
}

// Plain text is taken in blocks of eight bytes where it can be: blanks, quotes,
// backslashes and letters of two bytes at every place against those blocks come out as
// a byte-by-byte reading gives them.
TEST(PageContent, TextComesOutTheSameWhereverItsBlocksFall)
{
    const char* pieces[] = {"z", "k", " ", " ", "\t", "\"", "\\", "\xc3\xa9", "&"};
    std::uint32_t seed = 12345;
    for (int round = 0; round < 3000; ++round) {
        std::string page, expected;
        bool blank = false;
        const int length = static_cast<int>(seed % 40);
        for (int k = 0; k < length; ++k) {
            seed = seed * 1103515245u + 12345u;
            const std::string piece = pieces[(seed >> 16) % 9];
            page += piece;
            if (piece == " " || piece == "\t") {
                blank = true;
                continue;
            }
            if (blank && !expected.empty())
                expected += ' ';
            blank = false;
            expected += piece == "\"" ? "\\\"" : piece == "\\" ? "\\\\" : piece;
        }
        seed = seed * 1103515245u + 12345u;
        EXPECT_EQ(extractPageContent(page).scriptText, expected) << page;
    }
}

TEST(PageContent, HostilePagesAreBounded)
{
    std::string words;
    while (words.size() < kMaxPageTextBytes + 1000)
        words += "<h2 id=a>word</h2> \"";
    PageContent content = extractPageContent(words, ContentMode::AllContent);
    EXPECT_LE(content.sections.size(), kMaxPageSections);
    EXPECT_LE(content.scriptText.size(), 2 * kMaxPageTextBytes);
    EXPECT_LE(content.summary.size(), 250u);
    EXPECT_LE(content.placed.headings[1].size(), kMaxPageTextBytes);
    // One text of twice the limit without a tag, and keywords as long, are cut too.
    const std::string text = "<meta name=keywords content='" + std::string(2 * kMaxPageTextBytes, 'k') + "'>"
        + std::string(2 * kMaxPageTextBytes, 'w');
    content = extractPageContent(text, ContentMode::AllContent);
    EXPECT_LE(content.placed.body.size(), kMaxPageTextBytes);
    EXPECT_LE(content.placed.keywords.size(), kMaxPageTextBytes + 1);

    // One text node longer than the limit is cut at a blank within it, not lost.
    std::string node = "<p>";
    while (node.size() < kMaxPageTextBytes + 1000)
        node += "qconfig\xc3\xa9 ";
    content = extractPageContent(node);
    EXPECT_GT(content.scriptText.size(), kMaxPageTextBytes - 100);
    EXPECT_LE(content.scriptText.size(), kMaxPageTextBytes);
    EXPECT_EQ(content.scriptText.substr(content.scriptText.size() - 9), "qconfig\xc3\xa9");
}

// The fingerprint is computed by the search page from `docs` too; its tests use this
// table and value.
TEST(CompanionData, DocumentsCheckIsTheSharedFingerprintAndTheBaseLeadsToTheSource)
{
    const std::vector<DocumentEntry> documents = {{"T", "a/b.htm", "01-02-2003"}, {"U", "c\xe9.htm", ""}};
    EXPECT_EQ(documentsCheck(documents), "a9d82cbc");
    EXPECT_EQ(documentsCheck({}), "811c9dc5");
    EXPECT_EQ(relativeFolderUrl("/a/b/c", "/a/x y/z"), "../../x%20y/z/");
    EXPECT_EQ(relativeFolderUrl("/a/b", "/a/b"), "");
    EXPECT_EQ(relativeFolderUrl("/a/b/out", "/a/b"), "../");
    EXPECT_EQ(relativeFolderUrl("/", "/s\xc3\xa9"), "s%C3%A9/");
}

class CompanionJob : public SiteJob {
protected:
    CompanionJob()
    {
        engine.companionData = true;
        engine.contentMode = ContentMode::AllContent;
    }
    bool build() { return engine.buildIndex(); }

    // Every piece the index in place names: its text groups, the head of its words and
    // the pieces the head names.
    std::set<std::string> piecesNamed()
    {
        const std::string pages = readFile(tree.path("out/indexed_pages.js"));
        std::set<std::string> named;
        PieceStore::namesIn(pages, named);
        const std::size_t head = pages.rfind("\"words\":\"");
        if (head == std::string::npos)
            return named;
        const std::string headText = readFile(tree.path("out/indexed_text/" + pages.substr(head + 9, 16)));
        PieceStore::namesIn(headText, named);
        const std::size_t groups = headText.find("\"groups\":\"");
        if (groups != std::string::npos)
            PieceStore::namesIn(readFile(tree.path("out/indexed_text/" + headText.substr(groups + 10, 16))), named);
        return named;
    }

    // The pieces in the store with their inodes (a piece written again gets a new one).
    std::map<std::string, ino_t> pieces()
    {
        std::map<std::string, ino_t> found;
        for (const std::string& name : folderEntries(tree.path("out/indexed_text"))) {
            struct stat info = {};
            ::stat(tree.path("out/indexed_text/" + name).c_str(), &info);
            if (name != ".vantrelindexer")
                found[name] = info.st_ino;
        }
        return found;
    }

    // The group files indexed_pages.js names, in order.
    // The head of the word index, and the piece its field names ("" when none).
    std::string headText()
    {
        const std::string pages = readFile(tree.path("out/indexed_pages.js"));
        const std::size_t head = pages.rfind("\"words\":\"");
        return head == std::string::npos ? std::string() : readFile(tree.path("out/indexed_text/" + pages.substr(head + 9, 16)));
    }
    std::string piece(const std::string& field)
    {
        const std::string head = headText();
        const std::size_t at = head.find("\"" + field + "\":");
        if (at == std::string::npos)
            return {};
        const std::size_t name = head.find('"', at + field.size() + 3) + 1;
        return readFile(tree.path("out/indexed_text/" + head.substr(name, 16)));
    }

    std::vector<std::string> groupsNamed()
    {
        const std::string groups = piece("groups");
        std::set<std::string> named;
        PieceStore::namesIn(groups, named);
        std::vector<std::string> inOrder(named.begin(), named.end());
        std::sort(inOrder.begin(), inOrder.end(), [&](const std::string& a, const std::string& b) { return groups.find(a) < groups.find(b); });
        return inOrder;
    }
};

TEST_F(CompanionJob, WritesTitlesSummariesAndTextsInGroupsOfTheStore)
{
    tree.write("site/a.htm", "<title>First</title><meta name=description content=Sum><h1 id=h>Hi</h1>x", 1064361600);
    tree.write("site/b.htm", "no title", 1064361600);
    ASSERT_TRUE(build());
    const std::vector<std::string> groups = groupsNamed();
    ASSERT_FALSE(groups.empty());
    std::string texts;
    for (const std::string& name : groups) {
        const std::string group = readFile(tree.path("out/indexed_text/" + name));
        EXPECT_EQ(name, pieceName(group));
        texts += group;
    }
    const std::string pages = readFile(tree.path("out/indexed_pages.js"));
    const std::size_t named = pages.rfind("\"words\":\"") + 9;
    const std::string wordsHead = pages.substr(named, 16);
    // Ranking reads titles, names and summaries from the shards: the ranking pieces are
    // named by the head alone (for the order by date).
    EXPECT_NE(headText().find("\"places\":1,"), std::string::npos);
    std::string shards;
    for (const auto& found : pieces())
        if (const std::string text = readFile(tree.path("out/indexed_text/" + found.first)); text.find("vantrelWords(") != std::string::npos)
            shards += text;
    EXPECT_NE(shards.find("[\"sum\",0]"), std::string::npos) << shards;
    EXPECT_EQ(pages, "/* generator: VantrelIndexer */\nvar pages={\"format\":2,\"count\":2,\"check\":\""
                         + documentsCheck(engine.documents) + "\",\"base\":\"../site/\",\"words\":\"" + wordsHead + "\"};\n");
    // What a result shows, and what ranking reads, of each page.
    const std::string second = groups.back() + (groups.size() == 1 ? "\",1]" : "\",0]");
    EXPECT_EQ(piece("docs"), "/* generator: VantrelIndexer */\nvantrelDocs([[\"FIRST\",\"a.htm\",\"24-09-2003\",\"First\",\"Sum\",\""
                                 + groups[0] + "\",0],\n[\"Document has no name\",\"b.htm\",\"24-09-2003\",\"b.htm\",\"no title\",\"" + second + "]);\n");
    EXPECT_EQ(piece("ranks"), "/* generator: VantrelIndexer */\nvantrelRanks([[\"First\",\"a.htm\",\"24-09-2003\",\"Sum\"],\n"
                                  "[null,\"b.htm\",\"24-09-2003\",\"no title\"]]);\n");
    const std::string textsHead = "/* generator: VantrelIndexer */\nvantrelTexts([";
    const std::string firstText = "{\"text\":\"Hi x\",\"sections\":[[0,\"h\",\"Hi\"]]}";
    const std::string secondText = "{\"text\":\"no title\",\"sections\":[]}";
    EXPECT_EQ(texts, groups.size() == 1 ? textsHead + firstText + ",\n" + secondText + "]);\n"
                                        : textsHead + firstText + "]);\n" + textsHead + secondText + "]);\n");
}

// A page added with a key of its own changes the pieces of its run only (its text group,
// its words' shard, vocabulary piece and head, its piece of documents, the ranking piece
// and the list of groups, the shards and vocabulary piece of its file name's words,
// which list it too, the near pieces of those words, the set of runs inside words and
// the in-word pieces of those runs),
// whatever the size of the index; every
// other piece keeps its file, and the previous index's pieces stay for the pages opened
// on it until the job after next, which writes nothing again.
TEST_F(CompanionJob, AnAddedKeyChangesThePiecesOfItsRunOnlyAndOldPiecesStayOneJob)
{
    std::string text;
    for (int w = 0; w < 6000; ++w)
        text += " w" + std::to_string(w * 7919 % 100003);
    for (int i = 0; i < 30; ++i)
        tree.write("site/p" + std::to_string(100 + i) + ".htm", "<title>T</title><p>" + text.substr(i * 1000) + "</p>");
    ASSERT_TRUE(build());
    const std::map<std::string, ino_t> first = pieces();
    ASSERT_GE(first.size(), 20u);
    ASSERT_EQ(piecesNamed().size(), first.size());
    tree.write("site/p999.htm", "<p>w50001x</p>");
    ASSERT_TRUE(build());
    const std::map<std::string, ino_t> second = pieces();
    std::size_t added = 0;
    for (const auto& [name, inode] : second) {
        if (first.count(name))
            EXPECT_EQ(inode, first.at(name)) << name;
        else
            ++added;
    }
    EXPECT_GE(added, 6u);
    EXPECT_LE(added, 22u);
    EXPECT_EQ(second.size(), first.size() + added);
    ASSERT_TRUE(build());
    const std::map<std::string, ino_t> third = pieces();
    EXPECT_EQ(third.size(), piecesNamed().size());
    for (const auto& [name, inode] : third)
        EXPECT_EQ(inode, second.at(name)) << name;
}

TEST_F(CompanionJob, AnEarlierVersionsTextsStayUntilTheJobAfterNext)
{
    const std::string mark = "/* generator: VantrelIndexer */\n", stamp = "0123456789abcdef";
    tree.write("site/a.htm", "<title>A</title>");
    tree.write("out/indexed_text/" + stamp + "/0.js", mark + "vantrelText(0,{});");
    tree.write("out/indexed_text/fedcba9876543210/0.js", mark + "vantrelText(0,{});");
    tree.write("out/indexed_pages.js", mark + "var pages={\"format\":1,\"text\":\"indexed_text/" + stamp + "/\"};");
    ASSERT_TRUE(build());
    EXPECT_EQ(folderEntries(tree.path("out/indexed_text/" + stamp)), std::vector<std::string>{"0.js"});
    EXPECT_EQ(pieces().count("fedcba9876543210"), 0u);
    ASSERT_TRUE(build());
    EXPECT_EQ(pieces().count(stamp), 0u);
    EXPECT_EQ(pieces().size(), piecesNamed().size());
}

TEST_F(CompanionJob, AJobThatWritesNoIndexLeavesTheStoreAsItWas)
{
    tree.write("site/a.htm", "<title>A</title>");
    ASSERT_TRUE(build());
    const std::map<std::string, ino_t> before = pieces();
    const std::string pages = readFile(tree.path("out/indexed_pages.js"));
    tree.write("site/a.htm", "<title>A</title><p>changed</p>");
    ::chmod(tree.path("out/indexed_words.js").c_str(), 0444);
    EXPECT_FALSE(build());
    EXPECT_EQ(pieces(), before);
    EXPECT_EQ(readFile(tree.path("out/indexed_pages.js")), pages);
}

TEST_F(CompanionJob, NothingIsWrittenThroughALinkAtTheTextFolder)
{
    tree.write("site/a.htm", "<title>A</title>");
    tree.folder("elsewhere");
    ASSERT_EQ(::symlink(tree.path("elsewhere").c_str(), tree.path("out/indexed_text").c_str()), 0);
    struct Failures : ProgressLog {
        void append(const std::string&) override {}
        void report(const ProgressEvent& event) override
        {
            if (event.kind == ProgressKind::OutputFailed)
                paths.push_back(std::string(event.path));
        }
        std::vector<std::string> paths;
    } failures;
    engine.progressLog = &failures;
    EXPECT_TRUE(build());  // the index itself is written
    EXPECT_EQ(failures.paths, std::vector<std::string>{tree.path("out/indexed_text")});
    EXPECT_TRUE(folderEntries(tree.path("elsewhere")).empty());
}

}  // namespace
