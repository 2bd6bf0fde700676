// The clip catalog against the store it is derived from: built, kept current
// by the index's own writes (also while a worker builds it), built again when
// another process wrote, and answering counts, order and searches over a
// large index made with the import's batch writes, and handed to the
// index's thread by a post without that thread ever building or waiting.
#include "clips/core/ClipCatalog.h"
#include "app/core/ChannelTable.h"
#include "clips/core/ClipIndex.h"
#include "platform/registry/RegistryImport.h"
#include "platform/registry/RegistryStore.h"
#include "tests/clips/CatalogBuildGate.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace {

constexpr const char* kContainer = "software\\Kestrel-Lookout\\RemoteRecord";

ClipRecord Clip(const std::string& fileName, int32_t channel, const std::string& start = "14:07") {
    return {fileName,     0,       channel,           {},           "2024/03/05", start,
            "2024/03/05", "14:09", fileName + ".img", "/srv/clips/"};
}

std::string Fields(const ClipRecord& r) {
    return r.FileName + "|" + std::to_string(r.Open) + "|" + std::to_string(r.Channel) + "|" + r.Location +
           "|" + r.SDate + "|" + r.STime + "|" + r.EDate + "|" + r.ETime + "|" + r.ImageName + "|" + r.Path;
}

// Every record of the catalog, in a fixed order.
std::set<std::string> catalogFields(const ClipCatalog& catalog) {
    std::set<std::string> all;
    for (std::size_t g = 0; g < catalog.groups().size(); ++g)
        for (ClipCatalog::Entry e : catalog.groups()[g].entries)
            all.insert(Fields(catalog.record(e)));
    return all;
}

// A post that queues calls for the test thread to run, as the event loop
// would.
class CallQueue {
public:
    ClipIndex::Post post() {
        return [this](std::function<void()> call) {
            const std::lock_guard lock(m_lock);
            m_calls.push_back(std::move(call));
            m_arrived.notify_all();
        };
    }
    // Waits for one posted call (a worker's end) and runs it here.
    bool runNext() {
        std::unique_lock lock(m_lock);
        if (!m_arrived.wait_for(lock, std::chrono::seconds(20), [this] { return !m_calls.empty(); }))
            return false;
        auto call = std::move(m_calls.front());
        m_calls.pop_front();
        lock.unlock();
        call();
        return true;
    }
    std::size_t waiting() {
        const std::lock_guard lock(m_lock);
        return m_calls.size();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<std::function<void()>> m_calls;
};

class ClipCatalogTest : public ::testing::Test {
protected:
    void SetUp() override { m_channels.replace({{3, "Loading bay"}, {7, "Gate"}}); }
    // What the store holds, as the index loads it.
    std::set<std::string> storeFields() {
        std::vector<ClipRecord> records;
        m_index.LoadClipRecords(records);
        std::set<std::string> all;
        for (const ClipRecord& r : records)
            all.insert(Fields(r));
        return all;
    }
    void save(const std::string& name, int32_t channel) {
        ClipRecord r = Clip(name, channel);
        ASSERT_TRUE(m_index.SaveClipRecord(r));
    }
    int dsreg(std::vector<std::string> args) {
        const char* saved = std::getenv("DIALSCOPE_REGISTRY_DIR");
        const std::string savedDir = saved ? saved : "";
        setenv("DIALSCOPE_REGISTRY_DIR", m_dir.path().c_str(), 1);
        args.insert(args.begin(), DSREG_PATH);
        ChildProcess tool(args);
        tool.readAll();
        const int status = tool.wait();
        setenv("DIALSCOPE_REGISTRY_DIR", savedDir.c_str(), 1);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    TempDir m_dir{"clip-catalog"};
    RegistryStore m_store{m_dir.file("user.sqlite")};
    ChannelTable m_channels;
    ClipIndex m_index{m_store, m_channels};
};

TEST_F(ClipCatalogTest, OwnWritesKeepItEqualToTheStoreAlsoWhileAWorkerBuildsIt) {
    save("20240305140700_0003.avi", 3);
    save("20240305140500_0007.avi", 7);
    EXPECT_EQ(catalogFields(m_index.catalogNow()), storeFields());

    // Written while the worker reads: applied once the catalog is taken.
    m_index.prepareCatalog(); // no-op: one is there
    ClipCatalog fresh = ClipCatalog::build(m_store);
    EXPECT_EQ(catalogFields(fresh), storeFields());

    // A second index on its own connection to the file, its catalog built by
    // a worker while it writes.
    RegistryStore secondStore(m_dir.file("user.sqlite"));
    ClipIndex second(secondStore, m_channels);
    second.prepareCatalog();
    ClipRecord added = Clip("20240305150000_0003.avi", 3);
    ASSERT_TRUE(second.SaveClipRecord(added));
    second.MarkClipRead("20240305140700_0003.avi", true);
    ASSERT_TRUE(second.DeleteClipRecord("20240305140500_0007.avi"));
    EXPECT_EQ(catalogFields(second.catalogNow()), storeFields());
    EXPECT_TRUE(second.catalogReady());

    // After the fact, on the first index: saved again in another channel,
    // marked, a mark on a wrong spelling (changes nothing), deleted.
    ClipRecord moved = Clip("20240305140700_0003.avi", 7);
    ASSERT_TRUE(m_index.SaveClipRecord(moved));
    m_index.MarkClipRead("20240305140700_0003.AVI", true);
    m_index.MarkClipRead("20240305150000_0003.avi", true);
    const ClipCatalog& catalog = m_index.catalogNow();
    EXPECT_EQ(catalogFields(catalog), storeFields());
    const auto gate = catalog.findGroup("0007 Gate");
    const auto bay = catalog.findGroup("0003 Loading bay");
    ASSERT_TRUE(gate && bay);
    EXPECT_EQ(catalog.counts(*gate).total, 1);
    EXPECT_EQ(catalog.counts(*bay).total, 1);
    EXPECT_EQ(catalog.counts(*bay).read, 1);
    EXPECT_EQ(catalog.size(), 2u);

    // Key names match regardless of case: a save or delete spelled otherwise
    // reaches the stored entry, and the catalog still shows the store.
    ClipRecord shouted = Clip("20240305150000_0003.AVI", 3);
    ASSERT_TRUE(m_index.SaveClipRecord(shouted));
    EXPECT_EQ(catalogFields(m_index.catalogNow()), storeFields());
    ASSERT_TRUE(m_index.DeleteClipRecord("20240305140700_0003.Avi"));
    EXPECT_EQ(catalogFields(m_index.catalogNow()), storeFields());
    EXPECT_EQ(m_index.catalogNow().size(), 1u);
}

TEST_F(ClipCatalogTest, AnotherProcessWritingMakesItBuildAgain) {
    save("20240305140700_0003.avi", 3);
    save("20240305140500_0007.avi", 7);
    EXPECT_EQ(m_index.catalogNow().size(), 2u);

    const std::string entry = std::string("HKCU\\") + kContainer + "\\20240305140700_0003.avi";
    ASSERT_EQ(dsreg({"set", entry, "Open", "dword", "1"}), 0);
    const std::string other = std::string("HKCU\\") + kContainer + "\\20240306090000_0007.avi";
    ASSERT_EQ(dsreg({"set", other, "FileName", "sz", "20240306090000_0007.avi"}), 0);
    ASSERT_EQ(dsreg({"set", other, "Channel", "dword", "7"}), 0);
    ASSERT_EQ(dsreg({"delete", std::string("HKCU\\") + kContainer + "\\20240305140500_0007.avi"}), 0);

    const ClipCatalog& catalog = m_index.catalogNow();
    EXPECT_EQ(catalogFields(catalog), storeFields());
    EXPECT_EQ(catalog.size(), 2u);
    ASSERT_TRUE(catalog.find("20240305140700_0003.avi"));
    EXPECT_TRUE(catalog.isRead(*catalog.find("20240305140700_0003.avi")));
    EXPECT_FALSE(catalog.find("20240305140500_0007.avi"));
}

TEST_F(ClipCatalogTest, TheIndexThreadNeverBuildsOrWaitsAndAStaleCatalogAnswersUntilReplaced) {
    save("20240305140700_0003.avi", 3);
    CallQueue queue;
    BuildGate gate;
    m_index.setPost(queue.post());
    m_index.setBuildHook(gate.hook());
    int told = 0;
    const int listener = m_index.addCatalogListener([&] { ++told; });

    // First build held on the worker: nothing to show yet, and asking again
    // starts no second build.
    m_index.prepareCatalog();
    EXPECT_EQ(m_index.currentCatalog(), nullptr);
    EXPECT_EQ(m_index.currentCatalog(), nullptr);
    EXPECT_TRUE(m_index.catalogBuilding());
    // Written while it builds: part of the catalog once it arrives.
    save("20240305140500_0007.avi", 7);
    gate.open();
    ASSERT_TRUE(queue.runNext());
    EXPECT_EQ(told, 1);
    ASSERT_NE(m_index.currentCatalog(), nullptr);
    EXPECT_EQ(catalogFields(*m_index.currentCatalog()), storeFields());

    // Another process (a second connection) writes: the catalog at hand
    // keeps answering while a new one is built, and our own write made
    // meanwhile shows in both.
    gate.close();
    RegistryStore otherStore(m_dir.file("user.sqlite"));
    ClipIndex other(otherStore, m_channels);
    ClipRecord theirs = Clip("20240306090000_0003.avi", 3);
    ASSERT_TRUE(other.SaveClipRecord(theirs));
    const ClipCatalog* stale = m_index.currentCatalog();
    ASSERT_NE(stale, nullptr);
    EXPECT_TRUE(m_index.catalogBuilding());
    EXPECT_FALSE(stale->find("20240306090000_0003.avi"));
    save("20240306100000_0007.avi", 7);
    EXPECT_TRUE(stale->find("20240306100000_0007.avi"));
    EXPECT_EQ(m_index.currentCatalog(), stale) << "replaced only through the post";
    gate.open();
    ASSERT_TRUE(queue.runNext());
    EXPECT_EQ(told, 2);
    const ClipCatalog* fresh = m_index.currentCatalog();
    ASSERT_NE(fresh, nullptr);
    EXPECT_FALSE(m_index.catalogBuilding());
    EXPECT_TRUE(fresh->find("20240306090000_0003.avi"));
    EXPECT_EQ(catalogFields(*fresh), storeFields());

    const auto builders = gate.builders();
    ASSERT_EQ(builders.size(), 2u);
    for (const std::thread::id id : builders)
        EXPECT_NE(id, std::this_thread::get_id());
    m_index.removeCatalogListener(listener);
    EXPECT_EQ(queue.waiting(), 0u);
}

TEST_F(ClipCatalogTest, AWorkerEndIsDeliveredWhateverTheOrderOfPostAndIndexLife) {
    save("20240305140700_0003.avi", 3);
    // Without a post, a later call takes the finished catalog.
    {
        ClipIndex index(m_store, m_channels);
        index.prepareCatalog();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!index.currentCatalog() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_TRUE(index.catalogReady());
    }
    // A post set while the worker runs or after it ended (whichever comes
    // first on this run): one arrival either way.
    CallQueue queue;
    {
        ClipIndex index(m_store, m_channels);
        int told = 0;
        index.addCatalogListener([&] { ++told; });
        index.prepareCatalog();
        index.setPost(queue.post());
        ASSERT_TRUE(queue.runNext());
        EXPECT_EQ(told, 1);
        EXPECT_TRUE(index.catalogReady());
        EXPECT_EQ(queue.waiting(), 0u);
    }
    // A call posted by an index gone by the time it runs does nothing.
    {
        auto index = std::make_unique<ClipIndex>(m_store, m_channels);
        index->setPost(queue.post());
        index->prepareCatalog();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (queue.waiting() == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        index.reset();
        ASSERT_TRUE(queue.runNext());
    }
}

// An index going away stops its worker's build instead of waiting it out;
// the store read that was given up leaves the connection fit for use.
TEST_F(ClipCatalogTest, AStoppedBuildGivesUpAndLeavesTheStoreUsable) {
    save("20240305140700_0003.avi", 3);
    save("20240305140500_0007.avi", 7);
    std::atomic<bool> stop{true};
    EXPECT_FALSE(ClipCatalog::build(m_store, stop));
    save("20240305150000_0003.avi", 3);
    stop = false;
    const auto built = ClipCatalog::build(m_store, stop);
    ASSERT_TRUE(built);
    EXPECT_EQ(catalogFields(*built), storeFields());
    EXPECT_EQ(built->size(), 3u);
    // Gone while its worker reads.
    for (int i = 0; i < 3; ++i) {
        ClipIndex index(m_store, m_channels);
        index.prepareCatalog();
    }
}

// A large index made as `dsreg import` makes one: counts per channel, the
// newest clips first, every row reachable, and searches by channel and time.
TEST_F(ClipCatalogTest, LargeIndexMadeWithBatchWritesAnswersCountsOrderAndSearches) {
    // 50,000 by default, which keeps the case to seconds; set
    // DIALSCOPE_LARGE_CLIPS=1000000 (a multiple of 1,440) for the full size.
    const char* wanted = std::getenv("DIALSCOPE_LARGE_CLIPS");
    const int kClips = wanted ? std::max(2880, std::atoi(wanted)) : 50400;
    constexpr int kChannels = 16;
    {
        RegistryImport import([this](RegistryRoot) { return &m_store; });
        char line[160];
        for (int n = 0; n < kClips; ++n) {
            // One clip a minute from 2024/01/01 00:00 on; channel n % 16 + 1.
            // Months of 28 days: a year every 483,840 clips.
            const int minute = n % 60, hour = n / 60 % 24, day = n / 1440 % 28 + 1,
                      month = n / 40320 % 12 + 1, year = 2024 + n / 483840;
            char name[40];
            std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d00%04d.avi", year, month, day, hour, minute,
                          n % kChannels + 1);
            std::snprintf(line, sizeof line, "[HKCU\\%s\\%s]", kContainer, name);
            ASSERT_TRUE(import.addLine(line)) << import.error();
            std::snprintf(line, sizeof line, "  \"FileName\" = sz[%zu]:\"%s\"", std::strlen(name), name);
            ASSERT_TRUE(import.addLine(line));
            std::snprintf(line, sizeof line, "  \"Channel\" = dword:%08x (%d)", n % kChannels + 1,
                          n % kChannels + 1);
            ASSERT_TRUE(import.addLine(line));
            std::snprintf(line, sizeof line, "  \"Open\" = dword:%08x (%d)", n % 3 == 0, n % 3 == 0);
            ASSERT_TRUE(import.addLine(line));
            std::snprintf(line, sizeof line, "  \"SDate\" = sz[10]:\"%04d/%02d/%02d\"", year, month, day);
            ASSERT_TRUE(import.addLine(line));
            std::snprintf(line, sizeof line, "  \"STime\" = sz[5]:\"%02d:%02d\"", hour, minute);
            ASSERT_TRUE(import.addLine(line));
        }
        ASSERT_TRUE(import.finish()) << import.error();
    }

    const ClipCatalog& catalog = m_index.catalogNow();
    ASSERT_EQ(catalog.size(), std::size_t(kClips));
    ASSERT_EQ(catalog.groups().size(), std::size_t(kChannels));
    int total = 0, read = 0;
    for (std::size_t g = 0; g < catalog.groups().size(); ++g) {
        const ClipCounts counts = catalog.counts(g);
        EXPECT_EQ(counts.total, kClips / kChannels + (int(g) < kClips % kChannels));
        total += counts.total;
        read += counts.read;
        // Newest first, all the way down.
        for (std::size_t row = 1; row < std::size_t(counts.total); ++row)
            ASSERT_GT(catalog.fileName(catalog.newest(g, row - 1)), catalog.fileName(catalog.newest(g, row)));
    }
    EXPECT_EQ(total, kClips);
    EXPECT_EQ(read, (kClips + 2) / 3);

    // One channel, one day: 1,440 minutes a day, one in 16 on this channel.
    const auto gate = catalog.findGroup("0003 ");
    ASSERT_TRUE(gate);
    SearchFilter day{true, searchBound(2024, 1, 2, 0, 0), true, searchBound(2024, 1, 2, 23, 59)};
    const auto hits = catalog.search(*gate, day);
    EXPECT_EQ(hits.size(), 1440u / kChannels);
    for (const auto& hit : hits)
        EXPECT_EQ(catalog.record(hit.entry).SDate, "2024/01/02");
    EXPECT_EQ(catalog.search(std::nullopt, day).size(), 1440u);
    EXPECT_EQ(catalog.search(std::nullopt, {}).size(), std::size_t(kClips));
}

} // namespace
