#include "pages/contents_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string PageFor(const std::string& key, int size = 64) {
    std::string page = "<HTML>" + key + "</HTML>";
    page.resize(std::max<size_t>(page.size(), size), '.');
    return page;
}

std::string TextOf(const std::optional<TContents>& hit) { return hit ? *hit->Text : "(miss)"; }

TEST(ContentsCache, HitHandsOutTheStoredPageWithoutCopying) {
    TContentsCache cache;
    TContents item("<HTML>\r\n\x8C\x66\x8E\xA6</HTML>", 100.25);
    const auto stored = item.Text;
    EXPECT_EQ(cache.AddObject("/keiziban", item), 1u);

    const auto hit = cache.FindContents("/keiziban", 100.25);
    ASSERT_TRUE(hit);
    EXPECT_EQ(hit->Text, stored);  // the same buffer, not a copy
    EXPECT_EQ(*hit->Text, "<HTML>\r\n\x8C\x66\x8E\xA6</HTML>");
    EXPECT_EQ(hit->Stamp, 100.25);
    EXPECT_FALSE(cache.FindContents("/controls", 0));
    EXPECT_FALSE(cache.FindContents("/keiziban?furiganaFilter=k", 0));

    // What was handed out outlives its entry.
    cache.AddObject("/keiziban", TContents("second", 101));
    cache.Clear();
    EXPECT_EQ(*hit->Text, "<HTML>\r\n\x8C\x66\x8E\xA6</HTML>");
}

TEST(ContentsCache, ServesOnlyItemsNotOlderThanTheStamp) {
    TContentsCache cache;
    cache.AddObject("/keiziban", TContents("built at 10", 10.0));

    EXPECT_EQ(TextOf(cache.FindContents("/keiziban", 10.0)), "built at 10");
    // Clock set back: a rescan earlier than the stored stamp still counts as current.
    EXPECT_EQ(TextOf(cache.FindContents("/keiziban", 9.5)), "built at 10");
    EXPECT_FALSE(cache.FindContents("/keiziban", 10.000001));
    // A stale item stays in place until it is replaced.
    EXPECT_EQ(cache.Count(), 1u);
}

TEST(ContentsCache, RebuiltPageKeepsItsPlaceAndTakesTheNewSpelling) {
    TContentsCache cache;
    cache.AddObject("/", TContents("frameset", 1));
    cache.AddObject("/keiziban?furiganaFilter=k", TContents("k board", 1));
    cache.AddObject("/keiziban?furiganaFilter=s", TContents("s board", 1));

    EXPECT_EQ(cache.AddObject("/keiziban?furiganaFilter=K", TContents("k board rebuilt", 2)), 3u);
    EXPECT_EQ(cache.Keys(),
              (std::vector<std::string>{"/", "/keiziban?furiganaFilter=K", "/keiziban?furiganaFilter=s"}));
    EXPECT_EQ(TextOf(cache.FindContents("/keiziban?furiganaFilter=k", 2)), "k board rebuilt");
    EXPECT_EQ(cache.FindContents("/keiziban?furiganaFilter=k", 2)->Stamp, 2);
}

TEST(ContentsCache, KeysFoldAsciiCaseButNotTheSecondByteOfACharacter) {
    TContentsCache cache;
    // Escapes differing in the case of their hex digits are the same bytes.
    cache.AddObject("/keiziban?groupFilter=%89c%8b%c6", TContents("eigyo", 1));
    EXPECT_EQ(TextOf(cache.FindContents("/KEIZIBAN?GROUPFILTER=%89c%8B%C6", 1)), "eigyo");
    // 0x89 0x63 and 0x89 0x43 are different characters.
    EXPECT_FALSE(cache.FindContents("/keiziban?groupFilter=%89C%8B%C6", 1));
    // The same with the bytes sent raw.
    cache.AddObject("/uinfo?user=\x83\x61", TContents("raw", 1));
    EXPECT_FALSE(cache.FindContents("/uinfo?user=\x83\x41", 1));
    EXPECT_EQ(TextOf(cache.FindContents("/UINFO?USER=\x83\x61", 1)), "raw");
    // A letter after a lone single-byte character folds as usual.
    EXPECT_EQ(TContentsCache::FoldKey("%41b\xB1"
                                      "c%2"),
              "%41B\xB1"
              "C%2");
    // Parameter order is part of the key.
    cache.AddObject("/keiziban?a=1&b=2", TContents("ab", 1));
    EXPECT_FALSE(cache.FindContents("/keiziban?b=2&a=1", 1));
}

TEST(ContentsCache, DeleteCountsInOrderOfAddingAndClearEmpties) {
    TContentsCache cache;
    for (const char* key : {"/", "/controls", "/keiziban", "/uinfo?user=a"})
        cache.AddObject(key, TContents(PageFor(key), 1));
    cache.FindContents("/", 1);  // recency must not change the order
    cache.Delete(1);
    EXPECT_EQ(cache.Keys(), (std::vector<std::string>{"/", "/keiziban", "/uinfo?user=a"}));
    EXPECT_FALSE(cache.FindContents("/controls", 0));
    EXPECT_THROW(cache.Delete(3), std::out_of_range);

    cache.Clear();
    EXPECT_EQ(cache.Count(), 0u);
    EXPECT_EQ(cache.Bytes(), 0u);
    EXPECT_FALSE(cache.FindContents("/keiziban", 0));
}

TEST(ContentsCache, BoundHoldsUnderAFloodOfDistinctKeys) {
    TContentsCache cache;
    const TContents page(std::string(1024, 'x'), 1);
    size_t most = 0;
    for (int i = 0; i < 100000; ++i) {
        cache.AddObject("/keiziban?x=" + std::to_string(i), page);
        most = std::max(most, cache.Bytes());
    }
    EXPECT_LE(most, TContentsCache::DefaultMaxBytes);
    EXPECT_LT(cache.Count(), 100000u);
    EXPECT_GT(cache.Count(), 10000u);  // the bound is not a tiny fixed count
    EXPECT_TRUE(cache.FindContents("/keiziban?x=99999", 1));
    EXPECT_FALSE(cache.FindContents("/keiziban?x=0", 1));
}

TEST(ContentsCache, EvictsTheLeastRecentlyUsedEntry) {
    const std::string page(1000, 'p');
    TContentsCache probe;
    probe.AddObject("/keiziban?x=0", TContents(page, 1));
    TContentsCache cache(probe.Bytes() * 3);  // room for three entries

    cache.AddObject("/keiziban?x=0", TContents(page, 1));
    cache.AddObject("/keiziban?x=1", TContents(page, 1));
    cache.AddObject("/keiziban?x=2", TContents(page, 1));
    ASSERT_TRUE(cache.FindContents("/keiziban?x=0", 1));  // oldest, but just used
    cache.AddObject("/keiziban?x=3", TContents(page, 1));

    EXPECT_EQ(cache.Keys(), (std::vector<std::string>{"/keiziban?x=0", "/keiziban?x=2", "/keiziban?x=3"}));
    EXPECT_LE(cache.Bytes(), cache.MaxBytes());
    // A miss on a stale item does not count as a use.
    cache.FindContents("/keiziban?x=2", 5);
    cache.AddObject("/keiziban?x=4", TContents(page, 1));
    EXPECT_FALSE(cache.FindContents("/keiziban?x=2", 0));
}

TEST(ContentsCache, ItemBiggerThanTheBoundIsNotKept) {
    TContentsCache cache(4096);
    cache.AddObject("/keiziban", TContents("small", 1));
    cache.AddObject("/controls", TContents("small", 1));
    EXPECT_EQ(cache.AddObject("/keiziban", TContents(std::string(5000, 'b'), 2)), 1u);
    // Neither the huge page nor the older one under its key is served...
    EXPECT_FALSE(cache.FindContents("/keiziban", 0));
    // ...and the other entries stay.
    EXPECT_EQ(TextOf(cache.FindContents("/controls", 1)), "small");
}

// A page is built into a generous reservation; thousands are kept, so the
// cache must not keep the reservation with them.
TEST(ContentsCache, StoresPagesWithoutTheirSpareCapacity) {
    std::string built;
    built.reserve(12 * 1024);
    built.assign(7600, 'b');
    const TContents item(std::move(built), 1);
    EXPECT_EQ(*item.Text, std::string(7600, 'b'));
    EXPECT_LE(item.Text->capacity(), 7600u + 7600u / 16);

    // Handed a shared text with room to spare, the cache keeps a tight copy.
    std::string roomy(100, 'r');
    roomy.reserve(64 * 1024);
    TContents shared;
    shared.Text = std::make_shared<const std::string>(std::move(roomy));
    shared.Stamp = 1;
    TContentsCache cache;
    cache.AddObject("/uinfo?user=a", shared);
    const auto hit = cache.FindContents("/uinfo?user=a", 1);
    ASSERT_TRUE(hit);
    EXPECT_EQ(*hit->Text, std::string(100, 'r'));
    EXPECT_LE(hit->Text->capacity(), 1024u);
    EXPECT_LE(cache.Bytes(), 1024u);
}

// Dropped pages stay resident in the allocator's heaps unless it is told to
// let them go; telling it walks every heap, so it happens once per eighth of
// the bound dropped, never on a hit, and after the lock and the pages are gone.
TEST(ContentsCache, AsksForFreedMemoryBackOncePerEighthOfTheBoundDropped) {
    int releases = 0;
    std::weak_ptr<const std::string> rebuilt;
    bool rebuiltGone = false;
    size_t countSeen = 0;
    std::unique_ptr<TContentsCache> cache;
    cache = std::make_unique<TContentsCache>(8u << 20, [&] {
        ++releases;
        rebuiltGone = rebuilt.expired();
        countSeen = cache->Count();  // would hang were the cache still locked
    });
    ASSERT_EQ(cache->ReleaseEvery(), 1u << 20);
    const std::string page(64 * 1024, 'p');
    auto key = [](int i) { return "/keiziban?n=" + std::to_string(1000 + i); };  // all of one length

    size_t added = 0;
    for (; cache->Count() == added; ++added) cache->AddObject(key(static_cast<int>(added)), TContents(page, 1));
    // The last one pushed the first one out.
    ASSERT_FALSE(cache->FindContents(key(0), 1));
    const size_t cost = cache->Bytes() / cache->Count();
    const size_t perRelease = (cache->ReleaseEvery() + cost - 1) / cost;
    ASSERT_GT(perRelease, 3u);
    for (size_t i = 1; i < added; ++i) ASSERT_TRUE(cache->FindContents(key(static_cast<int>(i)), 1));
    EXPECT_EQ(releases, 0);  // never for hits

    // A page rebuilt in place drops its old text as well; this one is the
    // most recently used and stays.
    {
        TContents again(page, 2);
        rebuilt = again.Text;
        cache->AddObject(key(static_cast<int>(added - 1)), again);
    }
    // Dropped so far: two entries' worth. Each new page pushes one more out.
    int next = static_cast<int>(added);
    for (size_t i = 0; i + 3 < perRelease; ++i) cache->AddObject(key(next++), TContents(page, 1));
    EXPECT_EQ(releases, 0);
    cache->AddObject(key(next++), TContents(page, 1));
    EXPECT_EQ(releases, 1);
    EXPECT_GT(countSeen, 0u);
    EXPECT_FALSE(rebuiltGone);

    cache->Clear();  // 8 MiB at once
    EXPECT_EQ(releases, 2);
    EXPECT_TRUE(rebuiltGone);  // the pages are freed before the allocator is asked
    EXPECT_EQ(countSeen, 0u);
}

// Page kinds under different page locks share one cache; every hit must be
// the page of its own key, whatever the eviction does meanwhile.
TEST(ContentsCache, ConcurrentUseServesEachKeyItsOwnPage) {
    TContentsCache cache(64 * 1024);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 3000; ++i) {
                const std::string key = "/keiziban?x=" + std::to_string((i * 7 + t) % 200);
                if (auto hit = cache.FindContents(key, 1)) {
                    if (*hit->Text != PageFor(key, 300)) ++wrong;
                } else {
                    cache.AddObject(key, TContents(PageFor(key, 300), 1));
                }
                if (i % 500 == 0) cache.Keys();
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_LE(cache.Bytes(), cache.MaxBytes());
}

}  // namespace
