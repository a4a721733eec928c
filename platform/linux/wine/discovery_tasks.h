// Looking in many places at once, each on a thread of its own, and taking
// what was found by a deadline: a folder on a disk that does not answer (a
// network share that stopped, a slow library) is passed over, and the rest
// is not kept waiting behind it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace ttu::platform {

// Tasks that give vectors of T; a task may start further ones. What they
// give is taken in the order they were started, a task's own before its
// followers', whichever thread finished first.
template <typename T>
class TaskGroup {
  struct Shared;

 public:
  using Result = std::vector<T>;

  class Spawner {
   public:
    using Task = std::function<Result(Spawner&)>;
    // Starts `task` on its own thread (or here, when no thread can be had).
    void Spawn(Task task) {
      std::vector<int> key = key_;
      key.push_back(next_++);
      {
        std::lock_guard<std::mutex> lock(shared_->m);
        ++shared_->running;
      }
      auto run = [shared = shared_, key, task = std::move(task)]() mutable {
        Spawner inner(shared, key);
        Result result;
        try {
          result = task(inner);
        } catch (...) {  // a place that cannot be read is passed over
        }
        std::lock_guard<std::mutex> lock(shared->m);
        shared->done.emplace(std::move(key), std::move(result));
        --shared->running;
        shared->cv.notify_all();
      };
      try {
        // Detached: a thread stuck in a disk that does not answer is left
        // behind, and holds only what it shares with this group.
        std::thread(run).detach();
      } catch (const std::system_error&) {
        run();
      }
    }

   private:
    friend class TaskGroup;
    Spawner(std::shared_ptr<Shared> shared, std::vector<int> key) : shared_(std::move(shared)), key_(std::move(key)) {}
    std::shared_ptr<Shared> shared_;
    std::vector<int> key_;
    int next_ = 0;
  };

  TaskGroup() : root_(std::make_shared<Shared>(), {}) {}
  Spawner& spawner() { return root_; }

  // What the tasks gave, once all have ended or `deadline` has come.
  Result Collect(std::chrono::steady_clock::time_point deadline) {
    Shared& s = *root_.shared_;
    std::unique_lock<std::mutex> lock(s.m);
    s.cv.wait_until(lock, deadline, [&] { return s.running == 0; });
    Result all;
    for (auto& [key, result] : s.done) {
      for (auto& item : result) all.push_back(std::move(item));
    }
    s.done.clear();
    return all;
  }

 private:
  struct Shared {
    std::mutex m;
    std::condition_variable cv;
    int running = 0;
    std::map<std::vector<int>, Result> done;
  };
  Spawner root_;
};

}  // namespace ttu::platform
