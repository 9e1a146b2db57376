#include "ui/kit/MainLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace voryx::kit {
namespace {

using namespace std::chrono_literals;

// The loop on its own thread, stopped and joined at the end of the test.
struct RunningLoop {
  explicit RunningLoop(MainLoop& l) : loop(l), thread([this] { loop.run(); }) {}
  ~RunningLoop() {
    loop.stop();
    thread.join();
  }
  MainLoop& loop;
  std::thread thread;
};

TEST(MainLoopTest, WaitingPerformRunsOnTheMainThreadBeforeReturningOrInlineFromIt) {
  MainLoop loop;
  RunningLoop running(loop);
  std::thread::id ranOn;  // set only where the loop also calls it the main thread
  EXPECT_TRUE(loop.performOnMain([&] { if (loop.isMainThread()) ranOn = std::this_thread::get_id(); }, true));
  EXPECT_EQ(ranOn, running.thread.get_id());
  EXPECT_FALSE(loop.isMainThread());
  std::string order;
  loop.performOnMain([&] {
    loop.performOnMain([&] { order += "queued "; });
    loop.performOnMain([&] { order += "inline "; }, true);
    order += "after ";
  }, true);
  loop.waitUntilIdle();
  EXPECT_EQ(order, "inline after queued ");
}

TEST(MainLoopTest, TasksFromManyThreadsRunOneAtATimeInTheOrderOfEachPoster) {
  MainLoop loop;
  RunningLoop running(loop);
  std::vector<std::pair<int, int>> seen;  // main loop only
  std::atomic<int> inside{0};
  bool overlapped = false;
  std::vector<std::thread> posters;
  for (int p = 0; p < 4; ++p) {
    posters.emplace_back([&, p] {
      for (int i = 0; i < 100; ++i) {
        loop.performOnMain([&, p, i] {
          if (++inside > 1) overlapped = true;
          seen.emplace_back(p, i);
          --inside;
        }, i % 10 == 0);
      }
    });
  }
  for (auto& t : posters) t.join();
  loop.waitUntilIdle();
  loop.performOnMain([&] {
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(seen.size(), 400u);
    std::vector<int> next(4, 0);
    for (auto [p, i] : seen) EXPECT_EQ(i, next[p]++);
  }, true);
}

TEST(MainLoopTest, IdleHandlerRunsOnceAfterABurstAndBeforeTheWaiterReturns) {
  MainLoop loop;
  int idleRuns = 0;
  loop.setIdleHandler([&] { ++idleRuns; });
  for (int i = 0; i < 5; ++i) loop.performOnMain([] {});  // queued before run()
  RunningLoop running(loop);
  loop.waitUntilIdle();
  EXPECT_EQ(idleRuns, 1);
  int seenInside = -1;
  loop.performOnMain([] {}, true);
  loop.performOnMain([&] { seenInside = idleRuns; }, true);
  EXPECT_EQ(seenInside, 2);  // the first waited task's idle run happened before it returned
}

TEST(MainLoopTest, TimersFireByVirtualTimeInDeadlineOrderEvenWhenSetByATimer) {
  ManualClock clock;
  MainLoop loop(clock);
  RunningLoop running(loop);
  std::string fired;  // main loop only; read after waits
  loop.afterDelay(0.2, [&] { fired += "b"; });
  loop.afterDelay(0.1, [&] {
    fired += "a";
    loop.afterDelay(0.1, [&] { fired += "d"; });  // due at 0.2, after b and c
  });
  loop.afterDelay(0.2, [&] { fired += "c"; });  // same deadline: after b
  loop.afterDelay(-1, [&] { fired += "0"; });
  loop.afterDelay(std::nan(""), [&] { fired += "n"; });
  loop.afterDelay(1e300, [&] { fired += "never"; });
  for (auto [by, expected] : {std::pair{0ms, "0n"}, {99ms, "0n"}, {1ms, "0na"}, {100ms, "0nabcd"}}) {
    loop.advanceClock(by);
    EXPECT_EQ(fired, expected);
  }
}

TEST(MainLoopTest, StopReleasesWaitersAndRefusesLaterTasks) {
  MainLoop loop;
  std::thread main([&] { loop.run(); });
  std::atomic<bool> blockerStarted{false}, release{false};
  loop.performOnMain([&] {
    blockerStarted = true;
    while (!release) std::this_thread::sleep_for(1ms);
  });
  while (!blockerStarted) std::this_thread::sleep_for(1ms);
  bool ranLate = false;
  std::atomic<int> answer{-1};
  std::thread waiter([&] { answer = loop.performOnMain([&] { ranLate = true; }, true) ? 1 : 0; });
  loop.stop();
  release = true;
  waiter.join();
  main.join();
  EXPECT_EQ(answer, 0);
  EXPECT_FALSE(ranLate);
}

}  // namespace
}  // namespace voryx::kit
