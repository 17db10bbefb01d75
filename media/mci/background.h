// Threads that nobody may have to wait for: a look at the MIDI-OUT ports (a
// port system that does not answer, a stale JACK server, can block for
// minutes) and a CD reader stuck on a damaged disc. A detached thread would
// outlive main and meet the destructors of the statics it uses; these are
// left to the program's end instead, which joins them.
//
// When the process ends normally (main returns, exit()), what is left is
// joined before the statics of the program are destroyed. A thread still
// stuck in a library call that cannot be interrupted after
// kBackgroundEndWait ends the process at once: the reason on stderr, the
// standard streams flushed, std::_Exit(EXIT_FAILURE) (the status main asked
// for is not known there), and no static destructor runs under the thread.
// (std::quick_exit would do no more: nothing of ours but the standard
// streams needs flushing.) A program that ends with std::_Exit itself
// (platform::leaveProcess) needs none of this: no destructor runs then.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace plimra::mci {

// How long the end of a process waits for the work left to it.
constexpr std::chrono::milliseconds kBackgroundEndWait{250};

// A thread its owner joins like a std::thread or, when the owner can wait no
// longer, leaves to the program's end.
class BackgroundThread {
 public:
  // `what` names the work for the message of a process that cannot wait for
  // it ("reading the disc"); it must outlive the thread (a literal).
  BackgroundThread(const char* what, std::function<void()> work);
  BackgroundThread(BackgroundThread&&) noexcept = default;
  BackgroundThread& operator=(BackgroundThread&&) = delete;
  // Joins the thread, however long its work takes.
  ~BackgroundThread();

  // Hands the thread to the program's end; this object is then empty.
  void leave();

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// Runs `work` on a thread of its own that the program's end joins.
void runInBackground(const char* what, std::function<void()> work);

// Joins the threads left to the program's end that have finished and waits
// at most `limit` for the others. True when none is left.
bool endBackgroundWork(std::chrono::milliseconds limit = kBackgroundEndWait);

}  // namespace plimra::mci
