#include "media/mci/dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace plimra::mci {
namespace {

std::mutex queueMutex;
std::condition_variable queueCv;
std::deque<Task> queue;

}  // namespace

void postToGui(Task task) {
  if (!task) return;
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
    return;
  }
  {
    std::lock_guard lock(queueMutex);
    queue.push_back(std::move(task));
  }
  queueCv.notify_all();
}

int runPostedTasks() {
  int ran = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard lock(queueMutex);
      if (queue.empty()) return ran;
      task = std::move(queue.front());
      queue.pop_front();
    }
    task();  // outside the lock: a task may post another
    ++ran;
  }
}

int waitAndRunPostedTasks(int timeoutMs) {
  {
    std::unique_lock lock(queueMutex);
    queueCv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return !queue.empty(); });
  }
  return runPostedTasks();
}

}  // namespace plimra::mci
