#include "media/mci/device_table.h"

#include <algorithm>
#include <atomic>
#include <cctype>

#include "media/mci/dispatch.h"

namespace plimra::mci {

DeviceTable& DeviceTable::instance() {
  static DeviceTable table;
  return table;
}

std::string DeviceTable::lower(const std::string& s) {
  std::string out = s;
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

void DeviceTable::registerType(const std::string& type, Factory factory) {
  factories_[lower(type)] = std::move(factory);
}

bool DeviceTable::hasType(const std::string& type) const {
  return factories_.count(lower(type)) != 0;
}

uint32_t DeviceTable::open(const std::string& type, const std::string& element,
                           const std::string& alias, uint16_t& id) {
  auto it = factories_.find(lower(type));
  if (it == factories_.end()) return type.empty() ? err::MissingDeviceName : err::InvalidDeviceName;
  std::string name = !alias.empty() ? alias : !element.empty() ? element : type;
  if (findByName(name)) return err::DeviceOpen;

  std::unique_ptr<Device> device = it->second();
  if (!device) return err::CannotLoadDriver;
  if (uint32_t e = device->open(element); e != err::None) return e;

  // Ids are 16-bit and never 0; skip ids still in use after a wrap.
  for (;;) {
    uint16_t candidate = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    if (candidate == 0) continue;
    if (!find(candidate)) {
      id = candidate;
      break;
    }
  }
  open_.push_back(Entry{id, name, lower(type), std::move(device)});
  return err::None;
}

uint32_t DeviceTable::close(uint16_t id) {
  auto it = std::find_if(open_.begin(), open_.end(), [id](const Entry& e) { return e.id == id; });
  if (it == open_.end()) return err::InvalidDeviceId;
  // Out of the table before it closes, so that nothing reaches a device
  // that is closing.
  std::unique_ptr<Device> device = std::move(it->device);
  open_.erase(it);
  return device->close();
}

void DeviceTable::closeAll() {
  std::vector<Entry> entries;
  entries.swap(open_);
  for (Entry& e : entries) e.device->close();
}

Device* DeviceTable::find(uint16_t id) const {
  for (const Entry& e : open_)
    if (e.id == id) return e.device.get();
  return nullptr;
}

Device* DeviceTable::findByName(const std::string& name, uint16_t* id) const {
  const std::string key = lower(name);
  for (const Entry& e : open_) {
    if (lower(e.name) == key) {
      if (id) *id = e.id;
      return e.device.get();
    }
  }
  return nullptr;
}

uint32_t DeviceTable::setPort(uint16_t id, int32_t port) {
  Device* device = find(id);
  return device ? device->setPort(port) : err::InvalidDeviceId;
}

uint32_t DeviceTable::setLoop(uint16_t id, bool on) {
  Device* device = find(id);
  return device ? device->setLoop(on) : err::InvalidDeviceId;
}

NotifyFn DeviceTable::wrapNotify(NotifyFn notify) {
  if (!notify) return {};
  auto fired = std::make_shared<std::atomic<bool>>(false);
  return [notify = std::move(notify), fired](NotifyCode code) {
    if (fired->exchange(true)) return;
    postToGui([notify, code] { notify(code); });
  };
}

}  // namespace plimra::mci
