// Holds the walk's threads at the named points of the directory calls
// (system_calls::Reach) until a test has done its step, and notes every
// point passed, by which thread, in order: a race is forced the same way
// every run instead of being left to the scheduler.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/posix/system_call_faults.h"

// Holds the first thread that reaches a point with a name, until released.
// Never destroyed: a thread may still be on its way through the hook when it
// is taken out. A Holds handle installs it for its own lifetime, one at a time.
class HoldBoard {
 public:
  using Point = system_calls::Point;

  struct Passage {
    Point point;
    std::string name;
    std::thread::id thread;
    long detail;  // what the point says beyond the name (system_calls.h)
  };

  static constexpr auto kPatience = std::chrono::seconds(10);

  static HoldBoard& Get() {
    alignas(HoldBoard) static unsigned char room[sizeof(HoldBoard)];
    static HoldBoard* board = new (room) HoldBoard();
    return *board;
  }

  void Begin() {
    const std::lock_guard<std::mutex> guard(mutex);
    active = true;
    system_calls::SetPointHook(&Hook);
  }
  void End() {
    const std::lock_guard<std::mutex> guard(mutex);
    system_calls::SetPointHook(nullptr);
    active = false;
    for (Hold& hold : holds) hold.released = true;
    changed.notify_all();
    // Threads still held let go of their entries before these are cleared.
    while (waiting > 0) {
      mutex.unlock();
      std::this_thread::yield();
      mutex.lock();
    }
    holds.clear();
    passages.clear();
  }
  void HoldAt(Point point, const std::string& name) {
    const std::lock_guard<std::mutex> guard(mutex);
    holds.push_back({point, name, false, false});
  }
  // Whether point was reached with name before the deadline.
  bool WaitFor(Point point, const std::string& name) {
    std::unique_lock<std::mutex> guard(mutex);
    return changed.wait_for(guard, kPatience, [&] { return Reached(point, name); });
  }
  // Which of the points (each with its name) was reached first, once one
  // is; -1 when none was before the deadline.
  int WaitForEither(const std::vector<std::pair<Point, std::string>>& points) {
    std::unique_lock<std::mutex> guard(mutex);
    int which = -1;
    changed.wait_for(guard, kPatience, [&] {
      for (const Passage& passage : passages) {
        for (std::size_t i = 0; i < points.size(); ++i) {
          if (passage.point == points[i].first && passage.name == points[i].second) {
            which = static_cast<int>(i);
            return true;
          }
        }
      }
      return false;
    });
    return which;
  }
  void Release(Point point, const std::string& name) {
    const std::lock_guard<std::mutex> guard(mutex);
    for (Hold& hold : holds) {
      if (hold.point == point && hold.name == name) hold.released = true;
    }
    changed.notify_all();
  }
  // Every point passed so far, in the order passed.
  std::vector<Passage> Passages() {
    const std::lock_guard<std::mutex> guard(mutex);
    return passages;
  }
  void Forget() {
    const std::lock_guard<std::mutex> guard(mutex);
    passages.clear();
  }

 private:
  struct Hold {
    Point point;
    std::string name;
    bool taken;  // a thread reached it and is (or was) held there
    bool released;
  };

  HoldBoard() = default;

  static void Hook(Point point, const char* name, long detail) { Get().Reach(point, name, detail); }

  void Reach(Point point, const char* name, long detail) {
    std::unique_lock<std::mutex> guard(mutex);
    if (!active) return;
    passages.push_back({point, name, std::this_thread::get_id(), detail});
    changed.notify_all();
    for (std::size_t i = 0; i < holds.size(); ++i) {
      if (holds[i].point != point || holds[i].name != name || holds[i].taken) continue;
      holds[i].taken = true;
      ++waiting;
      changed.wait(guard, [&] { return holds[i].released; });
      --waiting;
      return;
    }
  }

  bool Reached(Point point, const std::string& name) const {
    for (const Passage& passage : passages) {
      if (passage.point == point && passage.name == name) return true;
    }
    return false;
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool active = false;
  unsigned waiting = 0;  // threads held at a point
  std::vector<Hold> holds;
  std::vector<Passage> passages;
};

// The board for one case: every thread still held is let go at its end.
class Holds {
 public:
  using Point = system_calls::Point;

  Holds() { HoldBoard::Get().Begin(); }
  ~Holds() { HoldBoard::Get().End(); }
  Holds(const Holds&) = delete;
  Holds& operator=(const Holds&) = delete;
  void HoldAt(Point point, const std::string& name) { HoldBoard::Get().HoldAt(point, name); }
  bool WaitFor(Point point, const std::string& name) {
    return HoldBoard::Get().WaitFor(point, name);
  }
  int WaitForEither(const std::vector<std::pair<Point, std::string>>& points) {
    return HoldBoard::Get().WaitForEither(points);
  }
  void Release(Point point, const std::string& name) { HoldBoard::Get().Release(point, name); }
  std::vector<HoldBoard::Passage> Passages() { return HoldBoard::Get().Passages(); }
  void Forget() { HoldBoard::Get().Forget(); }
};
