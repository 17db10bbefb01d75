// Measures how long a program takes from launch until its window is mapped,
// for plimra and for a bare Qt window, alternating runs, in a private Xvfb
// display so that no window manager or other client interferes. Prints both
// medians and their ratio.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const char* cwd, bool quiet) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings = env;
  for (char** e = environ; *e; ++e) {
    const std::string s = *e;
    const auto key = s.substr(0, s.find('=') + 1);
    if (std::none_of(env.begin(), env.end(),
                     [&](const std::string& x) { return x.rfind(key, 0) == 0; }))
      envStrings.push_back(s);
  }
  std::vector<char*> envp;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (quiet) {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  }
  std::string oldCwd = std::filesystem::current_path();
  if (cwd) std::filesystem::current_path(cwd);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), envp.data()) != 0) pid = -1;
  std::filesystem::current_path(oldCwd);
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

// Starts Xvfb on a free display; returns its number.
std::optional<int> startXvfb(pid_t& pid) {
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  const std::vector<std::string> argv = {"/usr/bin/Xvfb", "-displayfd", std::to_string(fds[1]),
                                         "-screen",       "0",          "1024x768x24",
                                         "-nolisten",     "tcp"};
  if (access(argv[0].c_str(), X_OK) != 0) return std::nullopt;
  pid = spawn(argv, {}, nullptr, true);
  close(fds[1]);
  if (pid < 0) return std::nullopt;
  std::string number;
  char c;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) return std::nullopt;
  return std::atoi(number.c_str());
}

// Waits for a top-level window named `title` to be mapped.
std::optional<double> timeToWindow(Display* dpy, const std::string& program,
                                   const std::string& title, const std::string& display,
                                   const char* cwd) {
  XSync(dpy, True);  // drop events of earlier runs
  const auto t0 = Clock::now();
  const pid_t pid = spawn({program}, {"DISPLAY=" + display, "SDL_AUDIODRIVER=dummy"}, cwd, true);
  if (pid < 0) return std::nullopt;
  std::optional<double> result;
  const int fd = ConnectionNumber(dpy);
  while (!result && Clock::now() - t0 < std::chrono::seconds(30)) {
    while (!result && XPending(dpy)) {
      XEvent ev;
      XNextEvent(dpy, &ev);
      if (ev.type != MapNotify) continue;
      char* name = nullptr;
      if (XFetchName(dpy, ev.xmap.window, &name) && name) {
        if (title == name)
          result = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        XFree(name);
      }
    }
    if (result) break;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv{0, 20000};
    select(fd + 1, &set, nullptr, nullptr, &tv);
  }
  kill(pid, SIGTERM);  // not SIGKILL: it can leave a JACK client's state stale
  waitpid(pid, nullptr, 0);
  return result;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  pid_t xvfb = -1;
  const auto number = startXvfb(xvfb);
  if (!number) {
    std::printf("bench_startup: skipped, Xvfb is not available\n");
    return 0;
  }
  // Appended, not ":" + ...: GCC 12 at -O3 warns falsely about that form.
  std::string display(1, ':');
  display += std::to_string(*number);
  Display* dpy = nullptr;
  for (int i = 0; i < 100 && !dpy; ++i) {
    dpy = XOpenDisplay(display.c_str());
    if (!dpy) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!dpy) {
    std::printf("bench_startup: cannot open display %s\n", display.c_str());
    kill(xvfb, SIGTERM);
    return 1;
  }
  XSelectInput(dpy, DefaultRootWindow(dpy), SubstructureNotifyMask);

  // Both start in a folder with a few MIDI files for plimra to list.
  char dirTemplate[] = "/tmp/bench_startup-XXXXXX";
  const char* dir = mkdtemp(dirTemplate);
  for (int i = 0; dir && i < 20; ++i)
    std::ofstream(std::string(dir) + "/song" + std::to_string(i) + ".mid");

  std::vector<double> plimra, bare;
  // One unmeasured run each warms the file cache.
  timeToWindow(dpy, PLIMRA_PROGRAM, "Midi Player", display, dir);
  timeToWindow(dpy, BARE_PROGRAM, "Bare Window", display, dir);
  for (int i = 0; i < runs; ++i) {
    if (auto t = timeToWindow(dpy, PLIMRA_PROGRAM, "Midi Player", display, dir))
      plimra.push_back(*t);
    if (auto t = timeToWindow(dpy, BARE_PROGRAM, "Bare Window", display, dir)) bare.push_back(*t);
  }
  XCloseDisplay(dpy);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
  if (dir) std::filesystem::remove_all(dir);

  if (plimra.empty() || bare.empty()) {
    std::printf("bench_startup: a window did not appear (plimra %zu/%d, bare %zu/%d runs)\n",
                plimra.size(), runs, bare.size(), runs);
    return 1;
  }
  const double p = median(plimra), b = median(bare);
  std::printf("start-up to window shown, median of %d runs\n", runs);
  std::printf("  plimra       %8.1f ms\n", p);
  std::printf("  bare Qt      %8.1f ms\n", b);
  std::printf("  ratio        %8.2f x (plimra / bare Qt; target within 1.3x)\n", p / b);
  return 0;
}
