// The device table: opens devices by type, hands out device ids, and serves
// numbered commands and command strings. It is the one way the transport
// control, the windows and the command-line tools reach a device, and the
// seam where tests register fake device types.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "media/mci/device.h"

namespace plimra::mci {

class DeviceTable {
 public:
  using Factory = std::function<std::unique_ptr<Device>()>;

  static DeviceTable& instance();

  // Type names compare without regard to case ("Sequencer", "CDAudio").
  // Registering a name again replaces the factory (tests swap in fakes).
  void registerType(const std::string& type, Factory factory);
  bool hasType(const std::string& type) const;

  // Opens a new device of `type`. Its name (for command strings) is `alias`
  // when given, else the element when given, else the type name. On success
  // `id` receives a nonzero device id.
  uint32_t open(const std::string& type, const std::string& element, const std::string& alias,
                uint16_t& id);
  uint32_t close(uint16_t id);
  void closeAll();

  // The device with this id, or nullptr. Valid until it is closed.
  Device* find(uint16_t id) const;
  // The open device whose name matches, without regard to case, or nullptr.
  Device* findByName(const std::string& name, uint16_t* id = nullptr) const;

  // The MIDI-OUT port of an open sequencer: -1 the mapper, k output k.
  uint32_t setPort(uint16_t id, int32_t port);
  // Loop mode of an open sequencer (see Device::setLoop).
  uint32_t setLoop(uint16_t id, bool on);

  // A command string ("status cdaudio position", "play cdaudio from 3",
  // "open x.mid type sequencer alias song"...). The reply is written to
  // `reply` (cleared first). A device named by type that is not open is
  // opened on first use and stays open until closed by name or by
  // "close all". With "notify" in the string, `notify` receives the outcome.
  uint32_t sendString(const std::string& command, std::string& reply, NotifyFn notify = {});

  // Wraps a notification so that it runs on the GUI thread (see dispatch.h)
  // and at most once.
  static NotifyFn wrapNotify(NotifyFn notify);

 private:
  struct Entry {
    uint16_t id = 0;
    std::string name;
    std::string type;
    std::unique_ptr<Device> device;
  };
  DeviceTable() = default;
  static std::string lower(const std::string& s);

  // No lock: every call comes from the window's thread (devices report from
  // their own threads only through wrapNotify, which posts to it).
  std::map<std::string, Factory> factories_;  // key: lower-case type
  std::vector<Entry> open_;
  uint16_t nextId_ = 1;
};

}  // namespace plimra::mci
