// Command strings: "verb device [words...]" parsed into Device calls, and the
// replies written back as text the classic way (times as mm:ss:ff or
// tt:mm:ss:ff with two digits each, modes as words, booleans as true/false).
#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <thread>

#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"

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

std::string lowerCopy(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
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

uint32_t parseStatus(Args& a, StatusParams& p) {
  if (a.done()) return err::MissingParameter;
  if (a.accept("length")) p.item = StatusItem::Length;
  else if (a.accept("position")) p.item = StatusItem::Position;
  else if (a.accept("mode")) p.item = StatusItem::Mode;
  else if (a.accept("ready")) p.item = StatusItem::Ready;
  else if (a.accept("number")) {
    if (!a.accept("of") || !a.accept("tracks")) return err::UnrecognizedKeyword;
    p.item = StatusItem::NumberOfTracks;
  } else if (a.accept("media")) {
    if (!a.accept("present")) return err::UnrecognizedKeyword;
    p.item = StatusItem::MediaPresent;
  } else if (a.accept("current")) {
    if (!a.accept("track")) return err::UnrecognizedKeyword;
    p.item = StatusItem::CurrentTrack;
  } else if (a.accept("time")) {
    if (!a.accept("format")) return err::UnrecognizedKeyword;
    p.item = StatusItem::TimeFormat;
  } else if (a.accept("start")) {
    if (!a.accept("position")) return err::UnrecognizedKeyword;
    p.item = StatusItem::StartPosition;
  } else {
    return err::UnrecognizedKeyword;
  }
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
  std::string name = lowerCopy(*w);
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
  return err::UnrecognizedKeyword;
}

}  // namespace

uint32_t DeviceTable::sendString(const std::string& command, std::string& reply, NotifyFn notify) {
  reply.clear();
  std::vector<std::string> tokens;
  if (uint32_t e = tokenize(command, tokens); e != err::None) return e;
  if (tokens.empty()) return err::MissingCommandString;
  const std::string verb = lowerCopy(tokens[0]);
  if (tokens.size() < 2) return err::MissingDeviceName;
  const std::string& name = tokens[1];

  Args a;
  for (size_t i = 2; i < tokens.size(); ++i) {
    std::string w = lowerCopy(tokens[i]);
    if (w == "wait") a.wait = true;
    else if (w == "notify") a.notify = true;
    else {
      a.words.push_back(std::move(w));
      a.raw.push_back(tokens[i]);
    }
  }
  NotifyFn wrapped = a.notify ? wrapNotify(std::move(notify)) : NotifyFn{};
  // Commands that finish at once report through the same channel.
  auto finish = [&](uint32_t e) {
    if (wrapped) wrapped(e == err::None ? NotifySuccessful : NotifyFailure);
    return e;
  };

  if (verb == "open") {
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
      } else if (a.accept("shareable")) {
      } else {
        return err::UnrecognizedKeyword;
      }
    }
    std::string element;
    if (type.empty()) {
      if (hasType(name)) {
        type = name;
      } else {
        // A file with no type: pick the device from its extension.
        std::string lowerName = lowerCopy(name);
        auto dot = lowerName.rfind('.');
        std::string ext = dot == std::string::npos ? "" : lowerName.substr(dot + 1);
        if (ext == "mid" || ext == "midi" || ext == "rmi" || ext == "smf") type = "sequencer";
        else return err::InvalidDeviceName;
        element = name;
      }
    } else {
      element = name;
    }
    uint16_t id = 0;
    uint32_t e = open(type, element, alias, id);
    if (e == err::None) reply = std::to_string(id);
    return finish(e);
  }

  if (verb == "close") {
    if (!a.done()) return err::UnrecognizedKeyword;
    if (lowerCopy(name) == "all") {
      closeAll();
      return finish(err::None);
    }
    uint16_t id = 0;
    if (!findByName(name, &id)) return err::InvalidDeviceName;
    return finish(close(id));
  }

  uint16_t id = 0;
  Device* d = findByName(name, &id);
  if (!d) {
    // A device type named directly is opened on first use and stays open.
    if (!hasType(name)) return err::InvalidDeviceName;
    if (uint32_t e = open(name, "", "", id); e != err::None) return e;
    d = find(id);
    if (!d) return err::Internal;
  }

  if (verb == "play") {
    PlayParams p;
    while (!a.done()) {
      bool from = a.accept("from");
      if (!from && !a.accept("to")) return err::UnrecognizedKeyword;
      const std::string* t = a.next();
      if (!t) return err::MissingParameter;
      uint32_t v = 0;
      if (uint32_t e = parseTime(*t, v); e != err::None) return e;
      if (from) {
        if (p.from) return err::DuplicateFlags;
        p.from = v;
      } else {
        if (p.to) return err::DuplicateFlags;
        p.to = v;
      }
    }
    uint32_t e = d->play(p, wrapped);
    if (e != err::None) {
      if (wrapped) wrapped(NotifyFailure);
      return e;
    }
    if (a.wait) {
      // Only tools use "wait"; the windows never block on a play.
      for (;;) {
        Device* still = find(id);
        if (!still) break;
        int32_t m = still->mode();
        if (m != ModePlaying && m != ModeSeeking) break;
        if (!QCoreApplication::instance()) runPostedTasks();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return e;
  }
  if (verb == "stop" || verb == "pause" || verb == "resume") {
    if (!a.done()) return err::UnrecognizedKeyword;
    uint32_t e = verb == "stop" ? d->stop() : verb == "pause" ? d->pause() : d->resume();
    return finish(e);
  }
  if (verb == "seek") {
    SeekParams p;
    if (!a.accept("to")) return a.done() ? err::MissingParameter : err::UnrecognizedKeyword;
    if (a.accept("start")) p.where = SeekParams::Where::Start;
    else if (a.accept("end")) p.where = SeekParams::Where::End;
    else {
      const std::string* t = a.next();
      if (!t) return err::MissingParameter;
      if (uint32_t e = parseTime(*t, p.to); e != err::None) return e;
      p.where = SeekParams::Where::To;
    }
    if (!a.done()) return err::UnrecognizedKeyword;
    return finish(d->seek(p));
  }
  if (verb == "status") {
    StatusParams p;
    if (uint32_t e = parseStatus(a, p); e != err::None) return e;
    StatusValue v;
    uint32_t e = d->status(p, v);
    if (e == err::None) reply = formatValue(v);
    return finish(e);
  }
  if (verb == "set") return finish(runSet(*d, a));
  return err::UnrecognizedCommand;
}

}  // namespace plimra::mci
