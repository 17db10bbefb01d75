#include "media/mci/background.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace plimra::mci {

struct BackgroundThread::State {
  const char* what = "";
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;  // the work has returned
  std::thread thread;
};

namespace {

using State = BackgroundThread::State;

bool isDone(State& s) {
  std::lock_guard lock(s.mutex);
  return s.done;
}

// The threads left to the program's end. Never destroyed: a static's
// destructor may still leave a thread here while the process exits.
class Registry {
 public:
  static Registry& instance() {
    static Registry* registry = [] {
      auto* r = new Registry;
      // Registered on first use, so it runs before the destructors of every
      // static that existed by then, those the threads use among them.
      std::atexit(&Registry::atExit);
      return r;
    }();
    return *registry;
  }

  void adopt(std::shared_ptr<State> state) {
    bool exiting;
    {
      std::lock_guard lock(mutex_);
      // Those that have finished are joined now (at once), so a long run
      // does not gather them.
      std::erase_if(left_, [](const std::shared_ptr<State>& s) {
        if (!isDone(*s)) return false;
        s->thread.join();
        return true;
      });
      left_.push_back(std::move(state));
      exiting = exiting_;
    }
    // Left by a static's destructor after the end has run: nothing waits
    // for it any more, so the end is now.
    if (exiting && !end(kBackgroundEndWait)) leaveStuck();
  }

  bool end(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::vector<std::shared_ptr<State>> states;
    {
      std::lock_guard lock(mutex_);
      states.swap(left_);
    }
    std::vector<std::shared_ptr<State>> stuck;
    for (auto& s : states) {
      bool done;
      {
        std::unique_lock lock(s->mutex);
        done = s->cv.wait_until(lock, until, [&s] { return s->done; });
      }
      if (done)
        s->thread.join();
      else
        stuck.push_back(std::move(s));
    }
    std::lock_guard lock(mutex_);
    left_.insert(left_.end(), stuck.begin(), stuck.end());
    return left_.empty();
  }

 private:
  Registry() = default;

  static void atExit() {
    Registry& r = instance();
    {
      std::lock_guard lock(r.mutex_);
      r.exiting_ = true;
    }
    if (!r.end(kBackgroundEndWait)) r.leaveStuck();
  }

  [[noreturn]] void leaveStuck() {
    const char* what = "";
    {
      std::lock_guard lock(mutex_);
      for (const auto& s : left_)
        if (!isDone(*s)) what = s->what;
    }
    std::fprintf(stderr, "plimra: %s did not end; the program ends without cleaning up.\n", what);
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  }

  std::mutex mutex_;
  std::vector<std::shared_ptr<State>> left_;
  bool exiting_ = false;
};

}  // namespace

BackgroundThread::BackgroundThread(const char* what, std::function<void()> work)
    : state_(std::make_shared<State>()) {
  // The end is registered before the work can first make a static of its
  // own, which would otherwise be destroyed before the end waits for it.
  Registry::instance();
  state_->what = what;
  // The state outlives the thread: whoever joins it holds it until then.
  state_->thread = std::thread([s = state_.get(), work = std::move(work)]() mutable {
    work();
    // What the work holds is let go here, on its own thread, before anyone
    // learns that it has returned.
    work = nullptr;
    std::lock_guard lock(s->mutex);
    s->done = true;
    s->cv.notify_all();
  });
}

BackgroundThread::~BackgroundThread() {
  if (state_ && state_->thread.joinable()) state_->thread.join();
}

void BackgroundThread::leave() {
  if (state_) Registry::instance().adopt(std::exchange(state_, nullptr));
}

void runInBackground(const char* what, std::function<void()> work) {
  BackgroundThread(what, std::move(work)).leave();
}

bool endBackgroundWork(std::chrono::milliseconds limit) { return Registry::instance().end(limit); }

}  // namespace plimra::mci
