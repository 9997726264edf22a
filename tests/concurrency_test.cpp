// First calls from many threads at once: one load, one table for all. Each TEST runs its body in
// a process of its own, so each one sees the first load.
#include <gtest/gtest.h>

#include <QrScsiTimeouts.h>
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fresh_process.h"
#include "store_helpers.h"

namespace {

constexpr int thread_count = 16;

struct Outcome {
    bool threw = false;
    std::vector<int32_t> table;
};

// Whether every other thread of this process is asleep: blocked, not on its way anywhere.
bool othersAsleep() {
    DIR* tasks = ::opendir("/proc/self/task");
    bool asleep = tasks != nullptr;
    const std::string self = std::to_string(::gettid());
    while (const dirent* e = asleep ? ::readdir(tasks) : nullptr) {
        if (e->d_name[0] == '.' || e->d_name == self) {
            continue;
        }
        std::ifstream stat(std::string("/proc/self/task/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t state = line.rfind(')') + 2;  // after "pid (name) "
        asleep = state < line.size() && line[state] == 'S';
    }
    if (tasks != nullptr) {
        ::closedir(tasks);
    }
    return asleep;
}

// Releases all threads together. The first load holds in its construction until every thread
// has made its call and is asleep in it (in the library's one-time initialisation), so each one
// surely calls while that load runs; `overlapped` says whether they all did.
std::vector<Outcome> firstCallsTogether(bool& overlapped) {
    std::vector<Outcome> outcomes(thread_count);
    std::atomic<int> waiting{thread_count};
    std::atomic<int> calling{0};
    overlapped = false;
    st::onConstruction([&] {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!overlapped && std::chrono::steady_clock::now() < give_up) {
            overlapped = calling.load() == thread_count && othersAsleep();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::thread> threads;
    threads.reserve(outcomes.size());
    for (Outcome& o : outcomes) {
        threads.emplace_back([&o, &waiting, &calling] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) {
                std::this_thread::yield();
            }
            try {
                calling.fetch_add(1);
                for (int i = 0; i < 256; ++i) {
                    o.table.push_back(getScsiTimeout(static_cast<unsigned char>(i)));
                }
            } catch (const std::runtime_error&) {
                o.threw = true;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    return outcomes;
}

class FirstCalls : public ::testing::Test {
  protected:
    void SetUp() override {
        st::reset();
        installProbe();
        st::seed("ScsiTimeouts", "CDB_05", "30");
    }
};

TEST_F(FirstCalls, LoadOnceAndSeeOneTable) {
    inFreshProcess([&] {
        bool overlapped = false;
        const std::vector<Outcome> outcomes = firstCallsTogether(overlapped);
        EXPECT_TRUE(overlapped);
        EXPECT_EQ(st::constructions(), 1);
        EXPECT_EQ(reads(), 274u);
        EXPECT_EQ(writes(), 18u);
        for (const Outcome& o : outcomes) {
            EXPECT_FALSE(o.threw);
            ASSERT_EQ(o.table.size(), 256u);
            EXPECT_EQ(o.table, outcomes[0].table);
        }
        EXPECT_EQ(outcomes[0].table[0x05], 30);
        EXPECT_EQ(outcomes[0].table[0x12], 60);
    });
}

TEST_F(FirstCalls, ArrivingWhileTheFirstLoadThrows) {
    inFreshProcess([&] {
        st::failConstruction(1);
        bool overlapped = false;
        const std::vector<Outcome> outcomes = firstCallsTogether(overlapped);
        EXPECT_TRUE(overlapped);
        int threw = 0;
        for (const Outcome& o : outcomes) {
            if (o.threw) {
                ++threw;
                continue;
            }
            ASSERT_EQ(o.table.size(), 256u);
            EXPECT_EQ(o.table[0x05], 30);
            EXPECT_EQ(o.table[0x12], 60);
        }
        EXPECT_EQ(threw, 1);
        EXPECT_EQ(st::constructions(), 1);
        EXPECT_EQ(reads(), 274u);
        EXPECT_EQ(st::liveObjects(), 0);
    });
}

}  // namespace

// A thread that learns of the load only through a relaxed flag has no order with the loading
// thread but the library's own: under ThreadSanitizer a lookup that does not acquire the loaded
// flag shows up as a race on the table. Elsewhere nothing can show it, so it is built there only.
#if defined(__SANITIZE_THREAD__)
#define QR_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QR_THREAD_SANITIZER 1
#endif
#endif

#ifdef QR_THREAD_SANITIZER
TEST(ReaderBeforeLoad, SeesTheWholeTable) {
    inFreshProcess([&] {
        st::reset();
        st::seed("ScsiTimeouts", "CDB_05", "30");
        std::atomic<bool> go{false};
        std::vector<int32_t> seen;
        std::thread reader([&] {
            while (!go.load(std::memory_order_relaxed)) {
            }
            for (int i = 0; i < 256; ++i) {
                seen.push_back(getScsiTimeout(static_cast<unsigned char>(i)));
            }
        });
        const int32_t first = getScsiTimeout(0x05);
        go.store(true, std::memory_order_relaxed);
        reader.join();
        ASSERT_EQ(seen.size(), 256u);
        EXPECT_EQ(first, 30);
        EXPECT_EQ(seen[0x05], 30);
        EXPECT_EQ(seen[0x12], 60);
        EXPECT_EQ(seen[0x00], 120);
    });
}
#endif
