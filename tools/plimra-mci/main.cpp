// plimra-mci: sends command strings, one a line from standard input, to the
// device table and prints what each one answers. See usage() for the output.
#include <cstdio>
#include <iostream>
#include <string>

#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"

namespace {

void usage() {
  std::fputs(
      "usage: plimra-mci < commands\n"
      "Reads command strings, one a line, and sends each to the program's\n"
      "devices (\"status cdaudio number of tracks\", \"play cdaudio from 3\"...).\n"
      "For every command it prints two lines:\n"
      "  the reply (an empty line when there is none)\n"
      "  error 0                 on success, or\n"
      "  error N <text>          N the error code, <text> a short description\n"
      "With \"notify\" in a command, a line\n"
      "  notify N <command>      N: 1 successful, 2 superseded, 4 aborted, 8 failure\n"
      "is printed when the outcome arrives (between later commands, or while\n"
      "\"wait\" waits). Empty lines and lines starting with # are skipped.\n"
      "The CD drive is the system's default one, or the device or .cue disc\n"
      "image named by the environment variable PLIMRA_CDROM.\n",
      stdout);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      usage();
      return 0;
    }
    std::fprintf(stderr, "plimra-mci: unknown option %s (try --help)\n", argv[i]);
    return 2;
  }
  plimra::cd::registerCdAudio();
  auto& table = plimra::mci::DeviceTable::instance();

  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string reply;
    uint32_t code = table.sendString(line, reply, [line](plimra::mci::NotifyCode n) {
      std::printf("notify %u %s\n", static_cast<unsigned>(n), line.c_str());
      std::fflush(stdout);
    });
    std::printf("%s\n", reply.c_str());
    if (code == 0)
      std::printf("error 0\n");
    else
      std::printf("error %u %s\n", code, plimra::mci::errorText(code).c_str());
    std::fflush(stdout);
    plimra::mci::runPostedTasks();
  }
  plimra::mci::runPostedTasks();
  table.closeAll();
  plimra::mci::runPostedTasks();
  return 0;
}
