#include "media/mci/midiout.h"

#include <mutex>

#include "media/mci/mci.h"

namespace plimra::mci {
namespace {

std::mutex catalogMutex;
std::shared_ptr<MidiOutCatalog> catalog;
std::vector<std::string> snapshot;
std::string mapper = "MIDI Mapper";

// The capabilities record holds 31 bytes of name; cut on a UTF-8 character
// boundary so a Japanese port name never ends in half a character.
std::string fitName(const std::string& name) {
  constexpr size_t kMax = 31;
  if (name.size() <= kMax) return name;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
  return name.substr(0, cut);
}

}  // namespace

void setMidiOutCatalog(std::shared_ptr<MidiOutCatalog> c) {
  std::lock_guard lock(catalogMutex);
  catalog = std::move(c);
  snapshot.clear();
}

std::shared_ptr<MidiOutCatalog> midiOutCatalog() {
  std::lock_guard lock(catalogMutex);
  return catalog;
}

uint32_t midiOutGetNumDevs() {
  std::shared_ptr<MidiOutCatalog> c = midiOutCatalog();
  std::vector<std::string> names;
  std::string mapperName = "MIDI Mapper";
  if (c) {
    names = c->outputNames();
    mapperName = c->mapperName();
  }
  std::lock_guard lock(catalogMutex);
  snapshot = std::move(names);
  mapper = std::move(mapperName);
  return static_cast<uint32_t>(snapshot.size());
}

uint32_t midiOutGetDevCaps(int32_t deviceId, MidiOutCaps& caps) {
  std::lock_guard lock(catalogMutex);
  if (deviceId == -1) {
    caps.name = fitName(mapper);
    return err::None;
  }
  if (deviceId < 0 || static_cast<size_t>(deviceId) >= snapshot.size()) return err::InvalidDeviceId;
  caps.name = fitName(snapshot[static_cast<size_t>(deviceId)]);
  return err::None;
}

}  // namespace plimra::mci
