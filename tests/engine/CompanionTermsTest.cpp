// The companion word index: the texts a page's words are taken from by place and
// indexing option, the page's language and links, the keys and stems counted from them,
// and indexed_terms.js as a job writes it.

#include "CompanionData.h"
#include "IndexEngine.h"
#include "PageContent.h"
#include "PageTerms.h"
#include "ScriptString.h"
#include "TermsText.h"
#include "TestFiles.h"
#include "TextGroups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string placesText(const PlacedText& placed)
{
    return "k[" + placed.keywords + "] t[" + placed.title + "] 1[" + placed.headings[0] + "] 2[" + placed.headings[1]
        + "] 3[" + placed.headings[2] + "] o[" + placed.otherHeadings + "] b[" + placed.body + "] l[" + placed.links + "]";
}

TEST(PagePlaces, EachIndexingOptionTakesItsPlacesOnly)
{
    const std::string page = "<html><title>T &amp; U</title><meta name=Keywords content='k1, k&eacute;2'>"
                             "<p>before<h1 class=x>One <b>bold</b></h1>mid<h2>Two</h2><h3>Three</h3><h4>Four</h4>"
                             "after<script>no</script><nav>menu</nav>end<a href=x>link</a>ed";
    const struct {
        ContentMode mode;
        const char* places;
    } cases[] = {
        {ContentMode::Keywords, "k[k1, k\xc3\xa9" "2 ] t[] 1[] 2[] 3[] o[] b[] l[]"},
        {ContentMode::KeywordsTitles, "k[k1, k\xc3\xa9" "2 ] t[T & U] 1[] 2[] 3[] o[] b[] l[]"},
        {ContentMode::KeywordsTitlesHeaders, "k[k1, k\xc3\xa9" "2 ] t[T & U] 1[One bold ] 2[Two ] 3[Three ] o[Four ] b[] l[]"},
        // The text of a link goes apart from the body, and neither joins a word across
        // the link's edges ("endlinked" is no word of either).
        {ContentMode::AllContent,
         "k[k1, k\xc3\xa9" "2 ] t[T & U] 1[One bold ] 2[Two ] 3[Three ] o[Four ] b[before mid after end ed] l[link ]"},
        {static_cast<ContentMode>(4), "k[] t[] 1[] 2[] 3[] o[] b[] l[]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(placesText(extractPageContent(page, c.mode).placed), c.places) << static_cast<int>(c.mode);
}

TEST(PagePlaces, LanguageAndShareOfTextInLinks)
{
    const struct {
        const char* page;
        const char* language;
        int linkShare;
    } cases[] = {
        {"<html lang=de-AT xml:lang=fr><p>text", "de-AT", 0},
        {"<html xml:lang='fr'><meta http-equiv=content-language content=ru>", "fr", 0},
        {"<HTML LANG=''><META HTTP-EQUIV=Content-Language CONTENT=' ru, en'>", "ru", 0},
        {"<body lang=de><p>only the html element declares", "", 0},
        // Ten characters, four of them in a link; a link in the navigation is no text.
        {"<p>abc <a href=x>defg</a>hi<nav><a href=y>menu</a></nav>", "", 40},
        {"<ul><li><a href=1>one</a><li><a href=2>two</a></ul>", "", 86},  // the blank between is not
        {"<a name=anchor></a>plain", "", 0},
    };
    for (const auto& c : cases) {
        const PageContent content = extractPageContent(c.page, ContentMode::AllContent);
        EXPECT_EQ(content.language, c.language) << c.page;
        EXPECT_EQ(content.linkShare, c.linkShare) << c.page;
    }
}

// The keys of a page with their counts (keyword-or-title, other, h1, h2, h3, link) and its
// stems, sorted, as one text.
std::string countedTerms(const std::string& page, const std::string& forced = "", std::string* language = nullptr)
{
    TermCounter counter(forced);
    PageTerms terms;
    counter.countPage(extractPageContent(page, ContentMode::AllContent), terms);
    if (language)  // and whether its words are grouped by the English plural rule
        *language = terms.language + (terms.englishPlurals ? "+plurals" : "");
    const PageWords& keys = terms.keys;
    const WordTable<char>& stems = terms.stemmedKeys;
    std::vector<std::string> lines;
    for (const auto& entry : keys.entries()) {
        const WordCounts& c = entry.value;
        lines.push_back(std::string(keys.wordOf(entry)) + ":" + std::to_string(c.keywordOrTitle) + std::to_string(c.other)
                        + std::to_string(c.h1) + std::to_string(c.h2) + std::to_string(c.h3) + std::to_string(c.link));
    }
    for (const auto& entry : stems.entries()) {
        std::string pair(stems.wordOf(entry));
        std::replace(pair.begin(), pair.end(), '\0', '>');
        lines.push_back("~" + pair);
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + " ";
    return text;
}

TEST(TermCounter, KeysAreCountedByPlaceAndStemmedByThePagesLanguage)
{
    const struct {
        const char* page;
        const char* forced;
        const char* terms;
    } cases[] = {
        // German: stems fold like keys; a word with an umlaut is counted under both keys.
        {"<html lang=de><title>Zertifikate</title><p>Größe Zertifikat", "",
         "groesse:010000 grosse:010000 zertifikat:010000 zertifikate:100000 ~gross>groesse ~gross>grosse "
         "~zertifikat>zertifikat ~zertifikat>zertifikate "},
        // Russian, stemmed; the same words forced to be Japanese are not.
        {"<html lang=ru><h2>квоты</h2> квота", "", "~квот>квота ~квот>квоты квота:010000 квоты:000100 "},
        {"<html lang=ru><h2>квоты</h2> квота", "ja", "квота:010000 квоты:000100 "},
        // English words are grouped by the plural rule, at the end of the job (see
        // TermsJob); unspaced runs give no stems.
        {"<html lang=en><h1>Classes</h1> class 東京", "", "class:010000 classes:001000 京:010000 東:010000 東京:010000 "},
        // H4 to H6 count as H3; a link's text by itself.
        {"<h4>alpha</h4><p>beta <a href=x>beta</a>", "ja", "alpha:000010 beta:010001 "},
        // A word is its own key up to 64 units, a longer one its first 64; a folded word
        // and the same word typed plain share a key.
        {"<html lang=en><p>caf\xC3\xA9 cafe aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa "
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "",
         "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa:020000 cafe:020000 "},
        // No declared language: the text's own, when the detector is sure of it.
        {"<p>Die Konfiguration der Datenbank wird in dieser Datei beschrieben, und die Zertifikate liegen "
         "im Verzeichnis der Anwendung.</p>", "", nullptr},
    };
    for (const auto& c : cases) {
        if (c.terms) {
            EXPECT_EQ(countedTerms(c.page, c.forced), c.terms) << c.page;
        }
    }
    std::string language;
    const std::string german = countedTerms(cases[6].page, "", &language);
    EXPECT_EQ(language, "de");
    EXPECT_NE(german.find("~zertifikat>zertifikate "), std::string::npos) << german;
    countedTerms(cases[3].page, "", &language);
    EXPECT_EQ(language, "en+plurals");
    // A page without words (unspaced characters alone) is taken to be in no language.
    EXPECT_EQ(countedTerms("<html lang=en><p>\xE6\x9D\xB1\xE4\xBA\xAC", "", &language),
              "\xE4\xBA\xAC:010000 \xE6\x9D\xB1:010000 \xE6\x9D\xB1\xE4\xBA\xAC:010000 ");
    EXPECT_EQ(language, "");
}

// The detector reads the first KiB and goes on to 4 KiB when that KiB is not wholly in
// one language: an opening it cannot read or that mixes languages decides nothing.
TEST(PageLanguage, AnOpeningThatDoesNotSettleTheLanguageIsReadFurther)
{
    const std::string german = "Die Konfiguration der Datenbank wird in dieser Datei beschrieben, und die "
                               "Zertifikate liegen im Verzeichnis der Anwendung. Jeder Dienst startet beim "
                               "Hochfahren des Rechners und schreibt seine Meldungen in das Protokoll. ";
    const std::string english = "The configuration of the database is described in this file, and the "
                                "certificates are kept in the folder of the application. ";
    auto times = [](const std::string& text, std::size_t bytes) {
        std::string repeated;
        while (repeated.size() < bytes)
            repeated += text;
        return repeated;
    };
    const struct {
        std::string text;
        const char* language;
    } cases[] = {
        {german, "de"},                                               // shorter than the first sample
        {times("12:00 -- 3.14 = 42; ", 1100) + times(german, 3000), "de"},  // an opening of no letters
        {times(english, 800) + times(german, 3300), "de"},            // an opening mostly English
        {times(english, 1100) + times(german, 3000), "en"},           // an opening wholly English
        {times("12 34 56 ", 5000), ""},                               // never sure
    };
    for (const auto& c : cases)
        EXPECT_EQ(detectLanguage(c.text), c.language) << c.text.substr(0, 80);
}

// English is told at a glance only where the detector could say nothing else: ASCII
// letters, enough words, enough of them English, none common in another language.
TEST(PageLanguage, OnlyPlainlyEnglishTextIsTakenWithoutTheDetector)
{
    const std::string english = "The configuration of the database is described in this file, and the "
                                "certificates are kept in the folder of the application. ";
    const std::string identifiers = "Module java.base Package java.util Class ArrayList java.lang.Object "
                                    "java.util.AbstractCollection java.util.AbstractList Serializable Cloneable "
                                    "Iterable Collection List RandomAccess Direct Known Subclasses AttributeList "
                                    "RoleList RoleUnresolvedList ";
    auto times = [](const std::string& text, int count) {
        std::string repeated;
        for (int i = 0; i < count; ++i)
            repeated += text;
        return repeated;
    };
    const struct {
        std::string text;
        bool english;
    } cases[] = {
        {times(english, 3), true},
        // Common punctuation is no letter of another alphabet.
        {times("The\xC2\xA0value of the key \xE2\x80\x94 which is kept in the table \xE2\x80\x9C" "as it stands\xE2\x80\x9D. ", 4), true},
        {times(english, 2) + "Die Zertifikate. " + english, false},  // a common German word
        {times(english, 2) + "Scelta di un display manager. ", false},
        {times(english, 2) + "Gr\xC3\xB6\xC3\x9F" "e " + english, false},  // a letter outside ASCII
        {times(english, 2) + "\xE6\x9D\xB1\xE4\xBA\xAC " + english, false},
        {times(identifiers, 3), false},  // too few English words
        {"The file and the folder of this application.", false},  // too few words
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPlainlyEnglish(c.text), c.english) << c.text.substr(0, 120);
        // Either way the page's language is the detector's answer for such text.
        if (c.english) {
            EXPECT_EQ(detectLanguage(c.text), "en");
        }
    }
    const EnglishMarks marks = englishMarksOf("the THE Then thence DIE the\xC2\xA0und");
    EXPECT_EQ(marks.words, 7u);
    EXPECT_EQ(marks.marks, 4u);  // "thence" is no mark, though it starts like one
    EXPECT_EQ(marks.foreign, 2u);
    EXPECT_TRUE(marks.ascii);
}

// A long text is cut in pieces: no key is lost, split or doubled at their ends.
TEST(TermCounter, LongTextsCountEveryKeyOnce)
{
    std::string page = "<p>";
    for (int i = 0; i < 20000; ++i)
        page += i % 2 ? "ab\xe6\x9d\xb1\xe4\xba\xac=\xcc\xb8 " : "ab\xe6\x9d\xb1\xe4\xba\xac.";  // ab東京≠ and ab東京.
    EXPECT_EQ(countedTerms(page), "ab:0200000000 \xe4\xba\xac:0200000000 \xe6\x9d\xb1:0200000000 \xe6\x9d\xb1\xe4\xba\xac:0200000000 ");
}

class TermsJob : public ::testing::Test {
protected:
    bool build(ContentMode mode = ContentMode::AllContent)
    {
        engine.sourceFolder = tree.path("site");
        engine.destinationFolder = tree.path("out");
        engine.companionData = true;
        engine.wholeWordIndex = true;
        engine.contentMode = mode;
        return engine.buildIndex();
    }

    TempTree tree;
    IndexEngine engine;
};

// Keys in UTF-16 order, pages best first by the design's weights (equal weights in page
// order), the groups of a stem by their positions (German by its stemmer, English by the
// plural rule), and each page's share of links.
TEST_F(TermsJob, WritesTheWordIndexBesideThePagesFile)
{
    tree.write("site/a.htm", "<html lang=de><title>Größe</title><p><a href=b.htm>Grössen</a> und \xf0\x90\x90\xa8 \xef\xa8\x8e", 1064361600);
    tree.write("site/b.htm", "<html lang=de><h2>Größe und</h2><p>und und \xef\xbc\xa1", 1064361600);
    tree.write("site/c.htm", "<html lang=en><p>Classes class tables", 1064361600);
    tree.folder("out");
    ASSERT_TRUE(build());
    EXPECT_EQ(readFile(tree.path("out/indexed_terms.js")),
              "/* generator: VantrelIndexer */\nvar terms={\"format\":2,\"count\":3,\"check\":\""
                  + documentsCheck(engine.documents)
                  + "\",\n\"words\":[[\"a\",1],\n[\"class\",2],\n[\"classes\",2],\n[\"groesse\",0,1],\n"
                    "[\"groessen\",0],\n[\"grosse\",0,1],\n[\"grossen\",0],\n[\"tables\",2],\n[\"und\",1,0],\n"
                    "[\"\xf0\x90\x90\xa8\",0],\n[\"\xef\xa8\x8e\",0]],\n"
                    "\"groups\":[[\"class\",1,2],\n[\"classe\",2],\n[\"gross\",3,4,5,6],\n[\"tabl\",7],\n[\"table\",7]],\n"
                    "\"links\":[44,0,0]};\n");
    // The word shards hold the same groups, by their keys (worked out with the keys).
    std::string shards;
    for (const auto& [name, bytes] : filesBelow(tree.path("out/indexed_text")))
        if (bytes.find("vantrelWords(") != std::string::npos)
            shards += bytes;
    for (const char* group : {"[\"class\",\"class\",\"classes\"]", "[\"classe\",\"classes\"]",
                              "[\"gross\",\"groesse\",\"groessen\",\"grosse\",\"grossen\"]", "[\"tabl\",\"tables\"]",
                              "[\"table\",\"tables\"]"})
        EXPECT_NE(shards.find(group), std::string::npos) << group << " in " << shards;
    // The link piece: a character a page, 44 as 'O' (35 + 44).
    std::string links;
    for (const auto& [name, bytes] : filesBelow(tree.path("out/indexed_text")))
        if (bytes.find("vantrelLinks(") != std::string::npos)
            links += bytes;
    EXPECT_EQ(links, "/* generator: VantrelIndexer */\nvantrelLinks(\"O##\");\n");
}

// Every share is its own one or two printable characters that a script string holds as
// they are (no quote, backslash or control character); a share out of range is clamped.
TEST(LinkShares, EachShareIsPrintableAndOwnAndOutOfRangeIsClamped)
{
    std::set<std::string> seen;
    for (int share = 0; share <= 100; ++share) {
        std::string text;
        TermsText::appendLinkShare(text, share);
        EXPECT_EQ(text.size(), share <= 90 ? 1U : 2U) << share;
        EXPECT_TRUE(seen.insert(text).second) << share;
        for (char c : text)
            EXPECT_TRUE(c >= '!' && c <= '~' && c != '"' && c != '\\') << share;
    }
    for (const auto& [share, clamped] : std::vector<std::pair<int, int>>{{-7, 0}, {101, 100}, {1 << 30, 100}}) {
        std::string text, expected;
        TermsText::appendLinkShare(text, share);
        TermsText::appendLinkShare(expected, clamped);
        EXPECT_EQ(text, expected) << share;
    }
}

// A vocabulary piece's lists are counted, not written, to tell where it ends: the count
// must be what the escaper writes, hostile keys included.
TEST(ScriptStrings, TheirLengthIsCountedWithoutWritingThem)
{
    const std::string words[] = {"", "plain", "say \"so\"", "back\\slash", std::string("nul\0tab\t\x7f", 9),
                                 "\xe2\x80\xa8line\xe2\x80\xa9para", "\xe2\x80\x94" "dash", "cut\xe2\x80", "cut\xe2",
                                 "\xe2\xe2\x80\xa8", "caf\xc3\xa9 \xe6\x97\xa5"};
    for (const std::string& word : words) {
        std::string written;
        appendScriptString(written, word);
        EXPECT_EQ(scriptStringLength(word), written.size()) << written;
    }
}

// With a thread to spare the keys are ranked beside the design's two files and the near
// pieces composed beside the shards: the same bytes as a job on one thread.
TEST_F(TermsJob, AJobOnTwoThreadsWritesWhatAJobOnOneWrites)
{
    tree.write("site/a.htm", "<html lang=en><title>Lamps and tables</title><p><a href=b.htm>Cables</a> lamp wiring");
    tree.write("site/b.htm", "<html lang=en><h2>Cable colours</h2><p>tables of copper cables and lamps");
    tree.write("site/c.htm", "<html lang=de><title>Größe</title><p>Kabel und Lampen, lamps");
    std::map<std::string, std::string> written[2];
    for (unsigned threads : {1u, 2u}) {
        engine.threadCount = threads;
        engine.destinationFolder = tree.folder("out" + std::to_string(threads));
        engine.sourceFolder = tree.path("site");
        engine.companionData = true;
        engine.wholeWordIndex = true;
        engine.contentMode = ContentMode::AllContent;
        ASSERT_TRUE(engine.buildIndex()) << engine.failure;
        written[threads - 1] = filesBelow(engine.destinationFolder);
    }
    EXPECT_NE(written[0]["indexed_terms.js"].find("[\"cables\","), std::string::npos) << written[0]["indexed_terms.js"];
    EXPECT_EQ(written[0], written[1]);
}

// A key's pages best first by score, where the design's weights would rank them the other
// way or alike: running text that uses a key more often, a heading above running text, a
// link's text below it, and the same uses on a longer page below a shorter one.
TEST_F(TermsJob, AKeysPagesAreRankedByScore)
{
    std::string longer = "<p>zeta";
    for (int i = 0; i < 40; ++i)
        longer += " filler" + std::to_string(i);
    const struct {
        std::string first, second;
        const char* entry;
    } cases[] = {
        {"<p>zeta", "<p>zeta and zeta and zeta", "[\"zeta\",1,0]"},
        {"<h2>zeta</h2><p>x", "<p>zeta zeta", "[\"zeta\",0,1]"},
        {"<h5>zeta</h5><p>x", "<p>zeta x", "[\"zeta\",0,1]"},
        {"<p><a href=x>zeta</a> x", "<p>zeta x", "[\"zeta\",1,0]"},
        {longer, "<p>zeta", "[\"zeta\",1,0]"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string site = "site" + std::to_string(i), out = "out" + std::to_string(i);
        tree.write(site + "/a.htm", cases[i].first);
        tree.write(site + "/b.htm", cases[i].second);
        tree.folder(out);
        engine.sourceFolder = tree.path(site);
        engine.destinationFolder = tree.path(out);
        engine.companionData = true;
        engine.wholeWordIndex = true;
        engine.contentMode = ContentMode::AllContent;
        ASSERT_TRUE(engine.buildIndex());
        const std::string terms = readFile(tree.path(out + "/indexed_terms.js"));
        EXPECT_NE(terms.find(cases[i].entry), std::string::npos) << cases[i].first << " / " << cases[i].second << "\n" << terms;
    }
}

// The head names the documents in pieces of kDocumentGroup: what a result shows of each
// (title and location as the page reads indexed_docs.js, in windows-1252), and a piece
// whose documents did not change keeps its file as it was. (Each row names its text's
// group: the pages hold half a group's bytes, so that no group reaches across pieces.)
TEST_F(TermsJob, TheHeadNamesTheDocumentsInPiecesOfSixteen)
{
    std::string filler;
    while (filler.size() < TextGroups::kGroupBytes / 2)
        filler += " more words";
    for (int i = 0; i < 18; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "site/p%02d.htm", i);
        const std::string text = "Text of page " + std::to_string(i);
        tree.write(name, "<title>Page " + std::to_string(i) + "</title><meta name=description content=\"" + text + "\"><p>" + text + filler,
                   1064361600);
    }
    tree.write("site/p00.htm", "<title>Gr\xc3\xb6\xc3\x9f" "e \"1\"</title><p>Erste Seite", 1064361600);
    tree.write("site/p03.htm", "<title></title>", 1064361600);
    tree.folder("out");
    ASSERT_TRUE(build());
    auto pieces = [&] {
        const std::string pages = readFile(tree.path("out/indexed_pages.js"));
        std::smatch words, docs;
        EXPECT_TRUE(std::regex_search(pages, words, std::regex("\"words\":\"([a-z2-7]{13}\\.js)\"")));
        const std::string head = readFile(tree.path("out/indexed_text/" + words[1].str()));
        EXPECT_TRUE(std::regex_search(head, docs, std::regex("\"docGroup\":16,\"docs\":\\[\"([a-z2-7]{13}\\.js)\",\"([a-z2-7]{13}\\.js)\"\\],\"rankGroup\":4096,\"ranks\":\\[\"[a-z2-7]{13}\\.js\"\\]\\}\\);\n$")))
            << head;
        return std::vector<std::string>{tree.path("out/indexed_text/" + docs[1].str()), tree.path("out/indexed_text/" + docs[2].str())};
    };
    const std::vector<std::string> first = pieces();
    ASSERT_EQ(first.size(), 2u);
    const std::string piece = readFile(first[0]);
    EXPECT_EQ(piece.rfind("/* generator: VantrelIndexer */\nvantrelDocs([[\"GR\xc3\x83\xc2\xb6\xc3\x83\xc5\xb8" "E \\\"1\\\"\",\"p00.htm\",\"24-09-2003\",\"Gr\xc3\xb6\xc3\x9f" "e \\\"1\\\"\",\"Erste Seite\",\"", 0), 0u) << piece;
    EXPECT_NE(piece.find("[\"PAGE 1\",\"p01.htm\",\"24-09-2003\",\"Page 1\",\"Text of page 1\",\""), std::string::npos) << piece;
    EXPECT_NE(piece.find("[\"\",\"p03.htm\",\"24-09-2003\",\"p03.htm\",\"\",\""), std::string::npos) << piece;
    EXPECT_EQ(std::count(piece.begin(), piece.end(), '\n'), 1 + 16);
    EXPECT_EQ(readFile(first[1]).find("vantrelDocs([[\"PAGE 16\""), 32u);

    struct stat before;
    ASSERT_EQ(::stat(first[0].c_str(), &before), 0);
    tree.write("site/p17.htm", "<title>Page seventeen</title><p>Changed", 1064361600);
    ASSERT_TRUE(build());
    const std::vector<std::string> second = pieces();
    struct stat after;
    EXPECT_EQ(second[0], first[0]);
    ASSERT_EQ(::stat(second[0].c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_NE(second[1], first[1]);
    EXPECT_NE(readFile(second[1]).find("\"Page seventeen\",\"Changed\""), std::string::npos);
}

// Past topFrom pages the pages file also names a top: the head, byte for byte the one a
// smaller threshold's job leaves out, less the document pieces' names and the near
// pieces' first words, which list pieces hold in their order. A page opened on a top
// keeps finding its lists until the job after next, as it finds the head's pieces.
// The pages file names the top's lists of shards too, the same entries, after every job
// (the page asks for a query's list beside the top).
TEST_F(TermsJob, ALargeSitesTopNamesItsListsInPiecesKeptAsTheHeadsAre)
{
    for (int i = 0; i < 18; ++i)
        tree.write("site/p" + std::to_string(i) + ".htm", "<title>Page " + std::to_string(i) + "</title><p>Text of page " + std::to_string(i), 1064361600);
    auto named = [&](const std::string& folder, const char* field) {
        std::smatch name;
        const std::string pages = readFile(tree.path(folder + "/indexed_pages.js"));
        return std::regex_search(pages, name, std::regex(std::string("\"") + field + "\":\"([a-z2-7]{13}\\.js)\"")) ? name[1].str() : std::string();
    };
    auto listed = [&](const std::string& folder, const std::string& text, const char* field, const char* next) {
        std::smatch list;
        EXPECT_TRUE(std::regex_search(text, list, std::regex(std::string("\"") + field + "\":\\[([\\s\\S]*?)\\]" + next))) << field;
        std::string names;
        const std::regex piece("[a-z2-7]{13}\\.js");
        for (std::sregex_iterator it(list[1].first, list[1].second, piece), end; it != end; ++it) {
            const std::string text = readFile(tree.path(folder + "/indexed_text/" + it->str()));
            const std::size_t open = text.find("vantrelNames([");
            EXPECT_EQ(open, 32u) << text;
            names += (names.empty() ? "" : ",") + text.substr(open + 14, text.rfind("]);") - open - 14);
        }
        names.erase(std::remove(names.begin(), names.end(), '\n'), names.end());
        return names;
    };
    auto oneLine = [](std::string text) {
        text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
        return text;
    };
    tree.folder("out");
    ASSERT_TRUE(build());
    const std::string head = named("out", "words");
    EXPECT_EQ(named("out", "top"), "");

    engine.topFrom = 16;
    engine.destinationFolder = tree.path("large");
    tree.folder("large");
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_EQ(named("large", "words"), head);
    const std::string headText = readFile(tree.path("large/indexed_text/" + head));
    const std::string top = named("large", "top"), topText = readFile(tree.path("large/indexed_text/" + top));
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(topText.find("\"docs\":"), std::string::npos);
    EXPECT_EQ(topText.find("\"near\":"), std::string::npos);
    EXPECT_NE(topText.find("\"docGroup\":16,\"docListGroup\":256,\"docLists\":["), std::string::npos) << topText;
    std::smatch docs, near;
    ASSERT_TRUE(std::regex_search(headText, docs, std::regex("\"docs\":\\[([^\\]]*)\\]")));
    EXPECT_EQ(listed("large", topText, "docLists", ","), oneLine(docs[1].str()));
    ASSERT_TRUE(std::regex_search(headText, near, std::regex("\"near\":\\[([\\s\\S]*?\\])\\]")));
    EXPECT_EQ(listed("large", topText, "nearLists", "\\]"), oneLine(near[1].str()));
    // Each list of near pieces by the first word of its first piece.
    std::smatch nearLists;
    ASSERT_TRUE(std::regex_search(topText, nearLists, std::regex("\"nearLists\":\\[(\\[[\\s\\S]*?\\])\\]")));
    const std::string listsText = nearLists[1].str();
    const std::regex entry("\\[(\"[^\"]+\"),\"([a-z2-7]{13}\\.js)\"\\]");
    int nearCount = 0;
    for (std::sregex_iterator it(listsText.begin(), listsText.end(), entry), end; it != end; ++it, ++nearCount)
        EXPECT_NE(readFile(tree.path("large/indexed_text/" + (*it)[2].str())).find("vantrelNames([[" + (*it)[1].str() + ",\""), std::string::npos);
    EXPECT_GE(nearCount, 1);
    std::smatch shards;
    ASSERT_TRUE(std::regex_search(headText, shards, std::regex("\"shards\":\\[([\\s\\S]*?)\\],\n\"vocabulary\"")));
    EXPECT_EQ(listed("large", topText, "shardLists", ",\n\"vocabulary\""), oneLine(shards[1].str()));
    auto sameLists = [&](const std::string& top) {
        std::smatch inPages, inTop;
        const std::string pages = readFile(tree.path("large/indexed_pages.js")), text = readFile(tree.path("large/indexed_text/" + top));
        ASSERT_TRUE(std::regex_search(pages, inPages, std::regex("\"lists\":\\[([\\s\\S]*)\\]\\};"))) << pages;
        ASSERT_TRUE(std::regex_search(text, inTop, std::regex("\"shardLists\":\\[([\\s\\S]*?)\\],\n\"vocabulary\"")));
        EXPECT_EQ(inPages[1].str(), inTop[1].str());
        EXPECT_NE(inPages[1].str().find(".js\","), std::string::npos);
    };
    sameLists(top);

    // The lists of the top in place stay through the next job and go with the one after.
    std::smatch lists;
    ASSERT_TRUE(std::regex_search(topText, lists, std::regex("\"docLists\":\\[\"([a-z2-7]{13}\\.js)\"")));
    const std::string list = tree.path("large/indexed_text/" + lists[1].str());
    tree.write("site/p1.htm", "<title>Page one</title><p>Changed", 1064361600);
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_NE(named("large", "top"), top);
    EXPECT_EQ(::access(list.c_str(), F_OK), 0);
    tree.write("site/p2.htm", "<title>Page two</title><p>Changed too", 1064361600);
    ASSERT_TRUE(engine.buildIndex());
    EXPECT_NE(::access(list.c_str(), F_OK), 0);
    sameLists(named("large", "top"));
    // A date moved alone: the pieces are taken whole, the top written again.
    tree.write("site/p2.htm", "<title>Page two</title><p>Changed too", 1064361600 + 5 * 86400);
    ASSERT_TRUE(engine.buildIndex());
    sameLists(named("large", "top"));
}

TEST_F(TermsJob, AWordIndexThatCannotBeWrittenKeepsTheOldCompanionFiles)
{
    tree.write("site/a.htm", "<title>A</title>");
    tree.folder("out");
    ASSERT_TRUE(build());
    const std::string pages = readFile(tree.path("out/indexed_pages.js"));
    const std::string terms = readFile(tree.path("out/indexed_terms.js"));
    ASSERT_FALSE(terms.empty());
    tree.write("site/b.htm", "<title>B</title>");
    ::chmod(tree.path("out/indexed_terms.js").c_str(), 0444);
    EXPECT_TRUE(build());  // the index itself is written
    EXPECT_EQ(readFile(tree.path("out/indexed_pages.js")), pages);
    EXPECT_EQ(readFile(tree.path("out/indexed_terms.js")), terms);
}

// Unless asked for, the word index is written in pieces only: the pages file names
// their head, and an indexed_terms.js an earlier job of ours left goes with the old
// index, while a file of that name that is not ours stays as it was.
TEST_F(TermsJob, TheWholeWordIndexIsWrittenOnlyWhenAskedFor)
{
    const struct {
        const char* earlier;  // indexed_terms.js before the job (nullptr: none)
        bool stays;
    } cases[] = {
        {nullptr, false},
        {"/* generator: VantrelIndexer */\nvar terms={};\n", false},
        {"var terms={}; // the site's own\n", true},
    };
    tree.write("site/a.htm", "<title>Alpha</title><p>alpha beta");
    for (const auto& c : cases) {
        tree.folder("out");
        ::unlink(tree.path("out/indexed_terms.js").c_str());
        if (c.earlier)
            tree.write("out/indexed_terms.js", c.earlier);
        engine.sourceFolder = tree.path("site");
        engine.destinationFolder = tree.path("out");
        engine.companionData = true;
        engine.wholeWordIndex = false;
        engine.contentMode = ContentMode::AllContent;
        ASSERT_TRUE(engine.buildIndex());
        struct stat info;
        EXPECT_EQ(::lstat(tree.path("out/indexed_terms.js").c_str(), &info) == 0, c.stays) << (c.earlier ? c.earlier : "none");
        if (c.stays) {
            EXPECT_EQ(readFile(tree.path("out/indexed_terms.js")), c.earlier);
        }
        EXPECT_NE(readFile(tree.path("out/indexed_pages.js")).find("\"words\":\""), std::string::npos);
    }
}

}  // namespace
