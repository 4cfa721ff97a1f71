// The event the threads signal each other with: manual and auto reset, polls, waits with and
// without a time-out, and wake-ups across threads.
#include "audio/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace velmar {
namespace {

using namespace std::chrono_literals;

TEST(Event, AManualEventStaysSignalledUntilReset) {
    CEvent event(EventReset::Manual);
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_TRUE(event.WaitFor(0ms));
    event.Wait();
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(1ms));
}

TEST(Event, ASuccessfulWaitConsumesTheSignalOfAnAutoEvent) {
    CEvent event(EventReset::Auto, true);
    EXPECT_TRUE(event.IsSet()) << "looking does not consume";
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.WaitFor(0ms));
    event.Set();
    event.Set(); // signals do not add up
    event.Wait();
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST(Event, ASetOnAnotherThreadWakesAWaiterWithoutLimit) {
    CEvent request(EventReset::Auto);
    CEvent reply(EventReset::Manual);
    std::jthread partner([&] {
        request.Wait();
        reply.Set();
    });
    request.Set();
    EXPECT_TRUE(reply.WaitFor(20s));
}

TEST(Event, OneSetOfAManualEventReleasesEveryWaiter) {
    CEvent gate(EventReset::Manual);
    std::atomic<int> released{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            gate.Wait();
            released.fetch_add(1);
        });
    }
    gate.Set();
    for (std::jthread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(released.load(), 4);
}

TEST(Event, OneSetOfAnAutoEventReleasesOneWaiter) {
    CEvent event(EventReset::Auto);
    std::atomic<int> released{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            if (event.WaitFor(300ms)) {
                released.fetch_add(1);
            }
        });
    }
    event.Set();
    for (std::jthread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(released.load(), 1);
}

} // namespace
} // namespace velmar
