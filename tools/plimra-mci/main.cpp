// plimra-mci: sends command strings, one a line from standard input, to the
// device table and prints what each one answers. See usage() for the output.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "media/cdaudio/register.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/text.h"
#include "media/sequencer/register.h"

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
      "is printed after the reply of the command during which the outcome\n"
      "arrived (\"play cdaudio from 2 notify wait\" gets it at once; without\n"
      "\"wait\", after a later command or at the end of the input).\n"
      "Empty lines and lines starting with # are skipped.\n"
      "The CD drive is the system's default one, or the device or .cue disc\n"
      "image named by the environment variable PLIMRA_CDROM.\n",
      stdout);
}

bool hasWord(const std::string& line, const std::string& word) {
  std::istringstream in(line);
  std::string w;
  while (in >> w)
    if (plimra::mci::lowerCase(w) == word) return true;
  return false;
}

bool hasWords(const std::string& line, const char* a, const char* b) {
  return hasWord(line, a) && hasWord(line, b);
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
  plimra::cdaudio::registerCdAudio();
  plimra::seq::registerSequencer();
  auto& table = plimra::mci::DeviceTable::instance();

  // Notifications are printed after the reply of the command during which
  // they arrived, so the output does not depend on thread timing.
  std::vector<std::string> notes;
  auto flushNotes = [&notes] {
    for (const auto& n : notes) std::printf("%s\n", n.c_str());
    notes.clear();
    std::fflush(stdout);
  };
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string reply;
    bool arrived = false;
    uint32_t code =
        table.sendString(line, reply, [&notes, &arrived, line](plimra::mci::NotifyCode n) {
          notes.push_back("notify " + std::to_string(n) + " " + line);
          arrived = true;
        });
    std::printf("%s\n", reply.c_str());
    if (code == 0)
      std::printf("error 0\n");
    else
      std::printf("error %u %s\n", code, plimra::mci::errorText(code).c_str());
    plimra::mci::runPostedTasks();
    // "wait" with "notify": the outcome is due now; give it a moment to land.
    if (hasWords(line, "wait", "notify"))
      for (int i = 0; i < 40 && !arrived; ++i) plimra::mci::waitAndRunPostedTasks(50);
    flushNotes();
  }
  plimra::mci::runPostedTasks();
  table.closeAll();
  plimra::mci::runPostedTasks();
  flushNotes();
  return 0;
}
