// The engine's cross-thread state from plain threads, no Qt: CI runs this
// under ThreadSanitizer, which cannot judge Qt's queued signals.
#include "enginestate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

TEST(EngineState, ProgressAndResultWhileRunningAndIdle) {
    EngineState state;
    EXPECT_EQ(state.progress(), 100);
    state.setProgress(150);
    state.start();
    EXPECT_EQ(state.progress(), 0) << "a new operation starts from 0";
    state.setProgress(150);
    EXPECT_EQ(state.progress(), 99) << "100 only ever means that nothing runs";
    EXPECT_EQ(state.result(), -14);
    EXPECT_EQ(state.lastError(), "Busy, operation in progress");
    state.reportCodeAndText(-8, "own words");
    EXPECT_EQ(state.result(), -14) << "a query between the last report and the exit code";
    state.finish(-8);
    EXPECT_EQ(state.progress(), 100);
    EXPECT_EQ(state.result(), -8);
    EXPECT_EQ(state.lastError(), "own words");
}

// Operations run one after another, each on a worker thread of its own, while
// a poller asks as the progress relay does: whenever it sees 100 with no start
// in between, the result and text are those of the operation just ended.
TEST(EngineState, IdleReaderSeesTheFinalCodeAndText) {
    constexpr int kOperations = 500;
    EngineState state;
    std::atomic<int> starting{0}, started{0}, checked{0};
    std::atomic<bool> done{false};
    std::vector<std::string> problems;

    std::thread poller([&] {
        while (!done.load()) {
            const int s1 = starting.load(), e1 = started.load();
            if (state.progress() != 100)
                continue;
            const int32 result = state.result();
            const std::string text = state.lastError();
            if (s1 != e1 || starting.load() != s1 || started.load() != e1 || e1 == 0)
                continue;
            if (result != -e1 || text != "operation " + std::to_string(e1))
                problems.push_back("operation " + std::to_string(e1) + ": " +
                                   std::to_string(result) + " " + text);
            ++checked;
        }
    });
    for (int op = 1; op <= kOperations; ++op) {
        starting = op;
        state.start();
        started = op;
        std::thread worker([&state, op] {
            for (uint8_t p = 0; p < 100; p += 25)
                state.setProgress(p);
            state.reportCodeAndText(-op, "operation " + std::to_string(op));
            state.finish(-op);
        });
        while (state.progress() != 100)
            std::this_thread::yield();
        worker.join();
    }
    done = true;
    poller.join();
    EXPECT_EQ(problems, std::vector<std::string>());
    EXPECT_GT(checked.load(), 0);
}
