// Command strings: "verb device [words...]" parsed into Device calls, and the
// replies written back as text the classic way (times as mm:ss:ff or
// tt:mm:ss:ff with two digits each, modes as words, booleans as true/false).
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/text.h"

namespace plimra::mci {
namespace {

constexpr size_t kMaxCommandBytes = 4096;
constexpr size_t kMaxTokens = 64;

uint32_t tokenize(const std::string& text, std::vector<std::string>& out) {
  if (text.size() > kMaxCommandBytes) return err::ParamOverflow;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
      continue;
    }
    std::string token;
    if (c == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string::npos) return err::NoClosingQuote;
      token = text.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      size_t end = i;
      while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\r' &&
             text[end] != '\n')
        ++end;
      token = text.substr(i, end - i);
      i = end;
    }
    if (out.size() == kMaxTokens) return err::ParamOverflow;
    out.push_back(std::move(token));
  }
  return err::None;
}

// "12" or "03:02:15:40": colon-separated fields pack into bytes, first field
// lowest, as msf and tmsf values are packed.
uint32_t parseTime(const std::string& text, uint32_t& value) {
  if (text.empty()) return err::BadInteger;
  if (text.find(':') == std::string::npos) {
    uint64_t v = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return err::BadInteger;
      v = v * 10 + static_cast<uint64_t>(c - '0');
      if (v > 0xFFFFFFFFull) return err::BadInteger;
    }
    value = static_cast<uint32_t>(v);
    return err::None;
  }
  uint32_t packed = 0;
  int field = 0;
  uint32_t current = 0;
  bool digits = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ':') {
      if (!digits || field >= 4) return err::BadInteger;
      packed |= current << (8 * field);
      ++field;
      current = 0;
      digits = false;
      continue;
    }
    char c = text[i];
    if (c < '0' || c > '9') return err::BadInteger;
    current = current * 10 + static_cast<uint32_t>(c - '0');
    if (current > 255) return err::BadInteger;
    digits = true;
  }
  value = packed;
  return err::None;
}

std::string two(uint32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02u", static_cast<unsigned>(v % 100));
  return buf;
}

std::string modeName(uint32_t mode) {
  switch (mode) {
    case ModeNotReady: return "not ready";
    case ModeStopped: return "stopped";
    case ModePlaying: return "playing";
    case ModeRecording: return "recording";
    case ModeSeeking: return "seeking";
    case ModePaused: return "paused";
    case ModeOpen: return "open";
    default: return "not ready";
  }
}

struct FormatName {
  const char* name;
  TimeFormat format;
};
constexpr FormatName kFormats[] = {
    {"milliseconds", TimeFormat::Milliseconds}, {"ms", TimeFormat::Milliseconds},
    {"hms", TimeFormat::Hms},                   {"msf", TimeFormat::Msf},
    {"frames", TimeFormat::Frames},             {"bytes", TimeFormat::Bytes},
    {"samples", TimeFormat::Samples},           {"tmsf", TimeFormat::Tmsf},
};

std::string formatName(TimeFormat f) {
  switch (f) {
    case TimeFormat::Smpte24: return "smpte 24";
    case TimeFormat::Smpte25: return "smpte 25";
    case TimeFormat::Smpte30: return "smpte 30";
    case TimeFormat::Smpte30Drop: return "smpte 30 drop";
    default: break;
  }
  for (const FormatName& n : kFormats)
    if (n.format == f && std::string(n.name) != "ms") return n.name;
  return "milliseconds";
}

std::string formatValue(const StatusValue& v) {
  switch (v.kind) {
    case StatusValue::Kind::Integer: return std::to_string(v.value);
    case StatusValue::Kind::Mode: return modeName(v.value);
    case StatusValue::Kind::Boolean: return v.value ? "true" : "false";
    case StatusValue::Kind::TimeFormatName:
      return formatName(static_cast<TimeFormat>(v.value));
    case StatusValue::Kind::Time:
      switch (v.format) {
        case TimeFormat::Msf:
          return two(msfMinute(v.value)) + ":" + two(msfSecond(v.value)) + ":" +
                 two(msfFrame(v.value));
        case TimeFormat::Tmsf:
          return two(tmsfTrack(v.value)) + ":" + two(tmsfMinute(v.value)) + ":" +
                 two(tmsfSecond(v.value)) + ":" + two(tmsfFrame(v.value));
        case TimeFormat::Hms:
          return two(v.value & 0xFF) + ":" + two((v.value >> 8) & 0xFF) + ":" +
                 two((v.value >> 16) & 0xFF);
        default: return std::to_string(v.value);
      }
  }
  return {};
}

// Words after the device name, with "wait" and "notify" taken out.
struct Args {
  std::vector<std::string> words;  // lower case
  std::vector<std::string> raw;    // as given (for file names and aliases)
  bool wait = false;
  bool notify = false;
  size_t pos = 0;

  bool done() const { return pos >= words.size(); }
  bool accept(const char* w) {
    if (pos < words.size() && words[pos] == w) {
      ++pos;
      return true;
    }
    return false;
  }
  const std::string* next() { return pos < words.size() ? &raw[pos++] : nullptr; }
};

// The status items by their words; after the first word the others must
// follow.
struct StatusName {
  const char* words[3];
  StatusItem item;
};
constexpr StatusName kStatusNames[] = {
    {{"length"}, StatusItem::Length},
    {{"position"}, StatusItem::Position},
    {{"mode"}, StatusItem::Mode},
    {{"ready"}, StatusItem::Ready},
    {{"number", "of", "tracks"}, StatusItem::NumberOfTracks},
    {{"media", "present"}, StatusItem::MediaPresent},
    {{"current", "track"}, StatusItem::CurrentTrack},
    {{"time", "format"}, StatusItem::TimeFormat},
    {{"start", "position"}, StatusItem::StartPosition},
};

uint32_t parseStatusItem(Args& a, StatusItem& item) {
  for (const StatusName& name : kStatusNames) {
    if (!a.accept(name.words[0])) continue;
    for (size_t i = 1; i < std::size(name.words) && name.words[i]; ++i)
      if (!a.accept(name.words[i])) return err::UnrecognizedKeyword;
    item = name.item;
    return err::None;
  }
  return err::UnrecognizedKeyword;
}

uint32_t parseStatus(Args& a, StatusParams& p) {
  if (a.done()) return err::MissingParameter;
  if (uint32_t e = parseStatusItem(a, p.item); e != err::None) return e;
  if (a.accept("track")) {
    if (p.item != StatusItem::Length && p.item != StatusItem::Position)
      return err::FlagsNotCompatible;
    const std::string* n = a.next();
    if (!n) return err::MissingParameter;
    uint32_t track = 0;
    if (uint32_t e = parseTime(*n, track); e != err::None) return e;
    p.track = track;
  }
  return a.done() ? err::None : err::UnrecognizedKeyword;
}

uint32_t parseTimeFormat(Args& a, TimeFormat& f) {
  const std::string* w = a.next();
  if (!w) return err::MissingParameter;
  std::string name = lowerCase(*w);
  if (name == "smpte") {
    const std::string* rate = a.next();
    if (!rate) return err::MissingParameter;
    if (*rate == "24") f = TimeFormat::Smpte24;
    else if (*rate == "25") f = TimeFormat::Smpte25;
    else if (*rate == "30") f = a.accept("drop") ? TimeFormat::Smpte30Drop : TimeFormat::Smpte30;
    else return err::BadTimeFormat;
    return err::None;
  }
  for (const FormatName& n : kFormats) {
    if (name == n.name) {
      f = n.format;
      return err::None;
    }
  }
  return err::BadTimeFormat;
}

uint32_t runSet(Device& d, Args& a) {
  if (a.done()) return err::MissingParameter;
  if (a.accept("time")) {
    if (!a.accept("format")) return err::UnrecognizedKeyword;
    TimeFormat f{};
    if (uint32_t e = parseTimeFormat(a, f); e != err::None) return e;
    if (!a.done()) return err::UnrecognizedKeyword;
    return d.setTimeFormat(f);
  }
  if (a.accept("door")) {
    bool open;
    if (a.accept("open")) open = true;
    else if (a.accept("closed")) open = false;
    else return a.done() ? err::MissingParameter : err::UnrecognizedKeyword;
    if (!a.done()) return err::UnrecognizedKeyword;
    return d.setDoor(open);
  }
  if (a.accept("port")) {
    int32_t port;
    if (a.accept("mapper")) port = -1;
    else {
      const std::string* n = a.next();
      if (!n) return err::MissingParameter;
      uint32_t v = 0;
      if (n->find(':') != std::string::npos || parseTime(*n, v) != err::None || v > 0x7FFF)
        return err::BadInteger;
      port = static_cast<int32_t>(v);
    }
    if (!a.done()) return err::UnrecognizedKeyword;
    return d.setPort(port);
  }
  if (a.accept("loop")) {
    bool on;
    if (a.accept("on")) on = true;
    else if (a.accept("off")) on = false;
    else return a.done() ? err::MissingParameter : err::UnrecognizedKeyword;
    if (!a.done()) return err::UnrecognizedKeyword;
    return d.setLoop(on);
  }
  return err::UnrecognizedKeyword;
}

// One parsed command string on its way to a device.
struct Command {
  DeviceTable& table;
  const std::string& name;  // the device name as given
  Args& args;
  std::string& reply;
  NotifyFn notify;           // set with "notify"; already bound to the GUI thread
  Device* device = nullptr;  // for the verbs that work on an open device
  uint16_t id = 0;

  // Commands that finish at once report through the notification too.
  uint32_t finish(uint32_t e) const {
    if (notify) notify(e == err::None ? NotifySuccessful : NotifyFailure);
    return e;
  }
};

// A file opened with no type: the device is picked by its extension.
bool isMidiFileName(const std::string& name) {
  const std::string lowered = lowerCase(name);
  const auto dot = lowered.rfind('.');
  const std::string ext = dot == std::string::npos ? "" : lowered.substr(dot + 1);
  return ext == "mid" || ext == "midi" || ext == "rmi" || ext == "smf";
}

uint32_t runOpen(Command& c) {
  Args& a = c.args;
  std::string type, alias;
  while (!a.done()) {
    if (a.accept("type")) {
      const std::string* t = a.next();
      if (!t) return err::MissingParameter;
      type = *t;
    } else if (a.accept("alias")) {
      const std::string* al = a.next();
      if (!al) return err::MissingParameter;
      alias = *al;
    } else if (!a.accept("shareable")) {
      return err::UnrecognizedKeyword;
    }
  }
  std::string element = c.name;
  if (type.empty()) {
    if (c.table.hasType(c.name)) {
      type = c.name;
      element.clear();
    } else if (isMidiFileName(c.name)) {
      type = "sequencer";
    } else {
      return err::InvalidDeviceName;
    }
  }
  uint16_t id = 0;
  const uint32_t e = c.table.open(type, element, alias, id);
  if (e == err::None) c.reply = std::to_string(id);
  return c.finish(e);
}

uint32_t runClose(Command& c) {
  if (!c.args.done()) return err::UnrecognizedKeyword;
  if (lowerCase(c.name) == "all") {
    c.table.closeAll();
    return c.finish(err::None);
  }
  uint16_t id = 0;
  if (!c.table.findByName(c.name, &id)) return err::InvalidDeviceName;
  return c.finish(c.table.close(id));
}

uint32_t parsePlay(Args& a, PlayParams& p) {
  while (!a.done()) {
    const bool from = a.accept("from");
    if (!from && !a.accept("to")) return err::UnrecognizedKeyword;
    const std::string* t = a.next();
    if (!t) return err::MissingParameter;
    uint32_t v = 0;
    if (uint32_t e = parseTime(*t, v); e != err::None) return e;
    std::optional<uint32_t>& bound = from ? p.from : p.to;
    if (bound) return err::DuplicateFlags;
    bound = v;
  }
  return err::None;
}

uint32_t runPlay(Command& c) {
  PlayParams p;
  if (uint32_t e = parsePlay(c.args, p); e != err::None) return e;
  const uint32_t e = c.device->play(p, c.notify);
  if (e != err::None) {
    if (c.notify) c.notify(NotifyFailure);
    return e;
  }
  if (c.args.wait) {
    // Only tools use "wait"; the windows never block on a play.
    for (;;) {
      Device* still = c.table.find(c.id);
      if (!still) break;
      const int32_t m = still->mode();
      if (m != ModePlaying && m != ModeSeeking) break;
      if (!QCoreApplication::instance()) runPostedTasks();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return e;
}

uint32_t runStop(Command& c) {
  if (!c.args.done()) return err::UnrecognizedKeyword;
  return c.finish(c.device->stop());
}

uint32_t runPause(Command& c) {
  if (!c.args.done()) return err::UnrecognizedKeyword;
  return c.finish(c.device->pause());
}

uint32_t runResume(Command& c) {
  if (!c.args.done()) return err::UnrecognizedKeyword;
  return c.finish(c.device->resume());
}

uint32_t runSeek(Command& c) {
  Args& a = c.args;
  SeekParams p;
  if (!a.accept("to")) return a.done() ? err::MissingParameter : err::UnrecognizedKeyword;
  if (a.accept("start")) {
    p.where = SeekParams::Where::Start;
  } else if (a.accept("end")) {
    p.where = SeekParams::Where::End;
  } else {
    const std::string* t = a.next();
    if (!t) return err::MissingParameter;
    if (uint32_t e = parseTime(*t, p.to); e != err::None) return e;
    p.where = SeekParams::Where::To;
  }
  if (!a.done()) return err::UnrecognizedKeyword;
  return c.finish(c.device->seek(p));
}

uint32_t runStatus(Command& c) {
  StatusParams p;
  if (uint32_t e = parseStatus(c.args, p); e != err::None) return e;
  StatusValue v;
  const uint32_t e = c.device->status(p, v);
  if (e == err::None) c.reply = formatValue(v);
  return c.finish(e);
}

uint32_t runSetCommand(Command& c) { return c.finish(runSet(*c.device, c.args)); }

struct Verb {
  const char* name;
  bool onDevice;  // needs an open device (a type named directly is opened)
  uint32_t (*run)(Command&);
};
constexpr Verb kVerbs[] = {
    {"open", false, runOpen}, {"close", false, runClose},  {"play", true, runPlay},
    {"stop", true, runStop},  {"pause", true, runPause},   {"resume", true, runResume},
    {"seek", true, runSeek},  {"status", true, runStatus}, {"set", true, runSetCommand},
};

const Verb* findVerb(const std::string& lowered) {
  for (const Verb& v : kVerbs)
    if (lowered == v.name) return &v;
  return nullptr;
}

// Words after the device name, lower-cased, with "wait" and "notify" taken out.
Args collectArgs(const std::vector<std::string>& tokens) {
  Args a;
  for (size_t i = 2; i < tokens.size(); ++i) {
    std::string w = lowerCase(tokens[i]);
    if (w == "wait") {
      a.wait = true;
    } else if (w == "notify") {
      a.notify = true;
    } else {
      a.words.push_back(std::move(w));
      a.raw.push_back(tokens[i]);
    }
  }
  return a;
}

// The open device named `name`; a device type named directly is opened on
// first use and stays open.
uint32_t resolveDevice(Command& c) {
  c.device = c.table.findByName(c.name, &c.id);
  if (c.device) return err::None;
  if (!c.table.hasType(c.name)) return err::InvalidDeviceName;
  if (uint32_t e = c.table.open(c.name, "", "", c.id); e != err::None) return e;
  c.device = c.table.find(c.id);
  return c.device ? err::None : err::Internal;
}

}  // namespace

uint32_t DeviceTable::sendString(const std::string& command, std::string& reply, NotifyFn notify) {
  reply.clear();
  std::vector<std::string> tokens;
  if (uint32_t e = tokenize(command, tokens); e != err::None) return e;
  if (tokens.empty()) return err::MissingCommandString;
  const Verb* verb = findVerb(lowerCase(tokens[0]));
  if (tokens.size() < 2) return err::MissingDeviceName;

  Args a = collectArgs(tokens);
  Command c{*this, tokens[1], a, reply, a.notify ? wrapNotify(std::move(notify)) : NotifyFn{}};
  if (!verb || verb->onDevice) {
    if (uint32_t e = resolveDevice(c); e != err::None) return e;
  }
  if (!verb) return err::UnrecognizedCommand;
  return verb->run(c);
}

}  // namespace plimra::mci
