// Delivery of engine notifications on the GUI thread.
//
// Devices run threads of their own (audio callback, reader, port scheduler)
// but the windows must see Done on the GUI thread, queued behind the event
// that is running. postToGui() is safe from any thread.
#pragma once

#include <functional>

namespace plimra::mci {

using Task = std::function<void()>;

// Queues `task` to run on the GUI thread. With a Qt application object it
// goes through Qt's event queue (queued connection to the application
// object). Without one (command-line tools, engine unit tests) the task waits
// in a process-wide queue until runPostedTasks() runs it.
void postToGui(Task task);

// Runs the tasks queued while no Qt application existed, on the calling
// thread, in order. Returns how many ran.
int runPostedTasks();

// Blocks until a task is queued (or timeoutMs passes), then runs all queued
// tasks. For tools and tests without a Qt event loop. Returns how many ran.
int waitAndRunPostedTasks(int timeoutMs);

}  // namespace plimra::mci
