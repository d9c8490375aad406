// The walk run ahead on a thread of its own: the same pages in the same order as the
// walker gives them, a walk ended at any point, a failure handed to the taker.

#include "WalkAhead.h"

#include "RacingFileSystem.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// More pages than the walk may hold ahead of its taker, in folders nested three deep.
void writeSite(TempTree& tree)
{
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 5; ++b)
            for (int p = 0; p < 27; ++p)
                tree.write("site/f" + std::to_string(a) + "/g" + std::to_string(b) + "/p" + std::to_string(p) + ".html",
                           "<title>t</title>");
    tree.write("site/top.html", "<title>top</title>");
}

std::vector<std::string> walkedPaths(FolderWalker& walker)
{
    std::vector<std::string> paths;
    PageItem page;
    while (walker.next(page))
        paths.push_back(page.path);
    return paths;
}

}  // namespace

TEST(WalkAhead, GivesTheWalkersPagesInItsOrderWithOrWithoutAThread)
{
    TempTree tree;
    writeSite(tree);
    FolderWalker plain(tree.path("site"));
    const std::vector<std::string> expected = walkedPaths(plain);
    constexpr std::size_t batchesAhead = 2;
    ASSERT_GT(expected.size(), WalkAhead::kBatch * batchesAhead);
    for (bool onItsOwnThread : {true, false}) {
        FolderWalker walker(tree.path("site"));
        WalkAhead ahead(walker, onItsOwnThread, batchesAhead);
        std::vector<std::string> paths;
        PageItem page;
        while (ahead.next(page))
            paths.push_back(page.path);
        EXPECT_EQ(paths, expected) << (onItsOwnThread ? "on its own thread" : "on the taker's");
        EXPECT_FALSE(ahead.next(page)) << "after the end";
    }
}

TEST(WalkAhead, EndsWhereItStandsAndHandsOnAFailureAfterThePagesBeforeIt)
{
    TempTree tree;
    writeSite(tree);
    FolderWalker plain(tree.path("site"));
    const std::vector<std::string> expected = walkedPaths(plain);
    for (bool onItsOwnThread : {true, false}) {
        SCOPED_TRACE(onItsOwnThread ? "on its own thread" : "on the taker's");
        {
            // The walk is held up ahead of a taker that stops: finishing must not wait for it.
            FolderWalker walker(tree.path("site"));
            WalkAhead ahead(walker, onItsOwnThread, 2);
            PageItem page;
            ASSERT_TRUE(ahead.next(page));
            EXPECT_EQ(page.path, expected.front());
            ahead.finish();
            EXPECT_FALSE(ahead.next(page));
        }
        // The walk fails listing its fifth folder.
        RacingFileSystem fileSystem;
        int listed = 0;
        fileSystem.before = [&listed](const std::string& call, int, const std::string&) {
            if (call == "listFolder" && ++listed == 5)
                throw std::runtime_error("listing failed");
        };
        FolderWalker walker(tree.path("site"), WalkRules(), fileSystem);
        WalkAhead ahead(walker, onItsOwnThread);
        std::vector<std::string> paths;
        PageItem page;
        EXPECT_THROW(
            {
                while (ahead.next(page))
                    paths.push_back(page.path);
            },
            std::runtime_error);
        ASSERT_LT(paths.size(), expected.size());
        EXPECT_EQ(paths, std::vector<std::string>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(paths.size())));
        EXPECT_FALSE(paths.empty());
    }
}
