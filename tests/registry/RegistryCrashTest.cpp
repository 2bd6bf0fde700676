// The store survives its writer being killed at any moment, and processes
// that share the file never lose each other's writes.
#include "tests/registry/CrashSteps.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <random>
#include <sys/wait.h>
#include <thread>

namespace {

enum class Step { NotRun, Maybe, Done };

TEST(RegistryCrash, KilledWriterLeavesASoundStoreWithEveryReportedWrite) {
    TempDir dir("registry-crash");
    const std::string file = dir.file("user.sqlite");
    std::mt19937 random(20261207);
    std::vector<Step> steps;
    uint32_t next = 0;
    int rounds = 0;
    auto start = std::chrono::steady_clock::now();

    // Enough rounds to hit writes, batches, deletes, checkpoints and opening
    // (WAL recovery) at many points, within about two seconds.
    int roundsWithSteps = 0;
    while (rounds < 12 ||
           (rounds < 40 && std::chrono::steady_clock::now() - start < std::chrono::seconds(2))) {
        ++rounds;
        ChildProcess writer({REGISTRY_TEST_WRITER, "loop", file, std::to_string(next)});
        ASSERT_TRUE(writer.running());
        std::string reports;
        // Some rounds die while starting or opening the store, the others
        // at a random point after their first completed step.
        if (rounds % 4 != 0) {
            while (reports.size() < 4 && writer.readSome(5000, reports)) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        }
        writer.kill(SIGKILL);
        reports += writer.readAll();
        int status = writer.wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself, status " << status;

        ASSERT_EQ(reports.size() % 4, 0u);
        uint32_t count = uint32_t(reports.size() / 4);
        roundsWithSteps += count > 0;
        steps.resize(next + count + 1, Step::NotRun);
        for (uint32_t k = 0; k < count; ++k) {
            uint32_t index;
            std::memcpy(&index, reports.data() + 4 * k, 4);
            ASSERT_EQ(index, next + k) << "reports out of order";
            steps[index] = Step::Done;
        }
        // The step after the last report may have completed unreported.
        steps[next + count] = Step::Maybe;

        RegistryStore store(file);
        ASSERT_TRUE(store.usable()) << "round " << rounds;
        ASSERT_TRUE(store.checkIntegrity()) << "round " << rounds;
        for (uint32_t i = next; i < next + count; ++i) {
            bool deleted = i + 3 < steps.size() && steps[i + 3] == Step::Done;
            bool mayBeDeleted = i + 3 < steps.size() && steps[i + 3] == Step::Maybe;
            ASSERT_TRUE(crashsteps::holds(store, i, deleted, mayBeDeleted))
                << "step " << i << " round " << rounds;
        }
        next += count + 1;
    }

    // At the end every reported step of every round still holds.
    RegistryStore store(file);
    ASSERT_TRUE(store.checkIntegrity());
    uint32_t done = 0;
    for (uint32_t i = 0; i < steps.size(); ++i) {
        if (steps[i] != Step::Done)
            continue;
        ++done;
        bool deleted = i + 3 < steps.size() && steps[i + 3] == Step::Done;
        bool mayBeDeleted = i + 3 < steps.size() && steps[i + 3] == Step::Maybe;
        EXPECT_TRUE(crashsteps::holds(store, i, deleted, mayBeDeleted)) << "step " << i;
    }
    // Every round that waited for a first step saw one.
    EXPECT_GE(roundsWithSteps, rounds * 3 / 4) << "the writer hardly ran; the test proves little";
    RecordProperty("rounds", rounds);
    RecordProperty("reported_steps", int(done));
}

// While one store object holds the file, opening a second one in the same
// process must not drop the first one's file locks: another process that then
// closes its own store would take itself for the last user and remove the
// write-ahead log from under the first object, losing its later writes.
TEST(RegistryCrash, SecondStoreObjectKeepsTheFirstOnesLocks) {
    TempDir dir("registry-locks");
    const std::string file = dir.file("user.sqlite");
    RegistryStore first(file);
    ASSERT_TRUE(first.createKey("locks").setDword("v", 1));
    {
        RegistryStore second(file);
        ASSERT_TRUE(second.usable());
        ChildProcess reader({REGISTRY_TEST_WRITER, "read", file, "locks", "v"});
        EXPECT_EQ(reader.readAll(), "1\n");
        EXPECT_EQ(reader.wait(), 0);
    }
    ASSERT_TRUE(first.openKey("locks").setDword("v", 2));
    ChildProcess reader({REGISTRY_TEST_WRITER, "read", file, "locks", "v"});
    EXPECT_EQ(reader.readAll(), "2\n");
    EXPECT_EQ(reader.wait(), 0);
    RegistryStore third(file);
    EXPECT_EQ(third.openKey("locks").queryValue("v")->dword(), 2u);
}

} // namespace
