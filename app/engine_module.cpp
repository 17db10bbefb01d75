#include "app/engine_module.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "media/engines/engines.h"
#include "media/mci/background.h"
#include "media/mci/device.h"
#include "media/mci/device_table.h"
#include "media/mci/dispatch.h"
#include "media/mci/midiout.h"
#include "media/mci/synthesizer.h"
#include "platform/filenames.h"
#include "ui/kit/msgbox.h"

namespace plimra::app {
namespace {

using engines::Engines;

bool isFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens the module once, on the first thread that asks for it; the others
// wait for that one.
class Module {
 public:
  static Module& instance() {
    static Module module;
    return module;
  }

  void setPath(std::string path) { path_ = std::move(path); }

  // Claims the opening for the calling thread; false when another has it.
  bool claim() {
    {
      std::lock_guard lock(mutex_);
      if (claimed_) return false;
      claimed_ = true;
    }
    claimedCv_.notify_all();
    return true;
  }

  // The engines, once the module is open; null (and the reason on stderr)
  // when it cannot be opened.
  const Engines* get() {
    if (claim()) open();
    std::unique_lock lock(mutex_);
    openedCv_.wait(lock, [this] { return opened_; });
    return engines_;
  }

  // The engines once someone else has opened the module; opens it after
  // `patience` when nobody has begun to.
  const Engines* getOpenedElsewhere(std::chrono::milliseconds patience) {
    {
      std::unique_lock lock(mutex_);
      if (claimedCv_.wait_for(lock, patience, [this] { return claimed_; })) {
        openedCv_.wait(lock, [this] { return opened_; });
        return engines_;
      }
    }
    return get();
  }

  // The engines if the module is open already, without waiting.
  const Engines* ifOpen() {
    std::lock_guard lock(mutex_);
    return opened_ ? engines_ : nullptr;
  }

  std::string error() {
    std::lock_guard lock(mutex_);
    return error_;
  }

  // Runs once the module is open (at once when it is), on the thread that
  // opened it, before anyone waiting for it goes on.
  void whenOpen(std::function<void(const Engines*)> task) {
    std::unique_lock lock(mutex_);
    if (!opened_) {
      pending_.push_back(std::move(task));
      return;
    }
    const Engines* e = engines_;
    lock.unlock();
    task(e);
  }

  void open() {
    std::string why;
    const Engines* found = nullptr;
    // Resolved now, off the window's thread, rather than on first calls;
    // global, as the libraries were when the program was linked with them
    // (some open plugins of their own that look for their symbols). A FIFO
    // in its place would hold the opening thread for ever.
    void* handle = nullptr;
    if (!isFile(path_)) {
      why = "it is not a file";
    } else if (!(handle = dlopen(path_.c_str(), RTLD_NOW | RTLD_GLOBAL))) {
      const char* error = dlerror();
      why = error ? error : "it cannot be opened";
    } else {
      auto entry = reinterpret_cast<engines::EntryPoint>(dlsym(handle, engines::kEntryPoint));
      const Engines* e = entry ? entry() : nullptr;
      if (!e)
        why = "it has no engines";
      else if (e->version != engines::kVersion || e->size != sizeof(Engines))
        why = "it belongs to another build of the program";
      else
        found = e;
    }
    if (!found) {
      why = "The engines (" + path_ + ") cannot be loaded: " + why;
      std::fprintf(stderr, "plimra: %s\n", why.c_str());
      // The windows work on; the user learns at once why nothing plays.
      mci::postToGui([why] {
        kit::MsgBox(QStringLiteral("演奏部を読み込めませんでした。曲も CD も再生できません。\n\n") +
                        QString::fromStdString(why),
                    kit::vbCritical);
      });
    }
    {
      std::lock_guard lock(mutex_);
      engines_ = found;
      error_ = why;
    }
    // What waited for the module, in order, also what comes meanwhile.
    for (;;) {
      std::deque<std::function<void(const Engines*)>> tasks;
      {
        std::lock_guard lock(mutex_);
        if (pending_.empty()) {
          opened_ = true;
          break;
        }
        tasks.swap(pending_);
      }
      for (auto& task : tasks) task(found);
    }
    openedCv_.notify_all();
  }

 private:
  std::string path_;
  std::mutex mutex_;
  std::condition_variable openedCv_;
  std::condition_variable claimedCv_;
  bool claimed_ = false;
  bool opened_ = false;
  const Engines* engines_ = nullptr;
  std::string error_;
  std::deque<std::function<void(const Engines*)>> pending_;
};

const Engines* engines() { return Module::instance().get(); }

class Catalog : public mci::MidiOutCatalog {
 public:
  std::vector<std::string> outputNames() override {
    auto c = real();
    return c ? c->outputNames() : std::vector<std::string>();
  }
  std::string mapperName() override {
    auto c = real();
    return c ? c->mapperName() : mci::MidiOutCatalog::mapperName();
  }
  // Asked on the window's thread while a look is late: never waits.
  std::string waitingOn() override {
    if (!Module::instance().ifOpen()) return {};
    auto c = real();
    return c ? c->waitingOn() : std::string();
  }

 private:
  // The first look, started with the window, leaves the opening to the
  // window's first frame.
  std::shared_ptr<mci::MidiOutCatalog> real() {
    std::call_once(once_, [this] {
      if (const Engines* e = Module::instance().getOpenedElsewhere(std::chrono::seconds(1)))
        catalog_ = e->midiOutCatalog();
    });
    return catalog_;
  }
  std::once_flag once_;
  std::shared_ptr<mci::MidiOutCatalog> catalog_;
};

// The module's synthesizer, or a missing one that says why.
std::shared_ptr<mci::Synthesizer> synthesizerOf(const Engines* e) {
  return e ? e->synthesizer()
           : std::make_shared<mci::MissingSynthesizer>(Module::instance().error());
}

class Synthesizer : public mci::Synthesizer {
 public:
  std::string noSoundReason() override { return synthesizerOf(engines())->noSoundReason(); }
  std::string defaultFont() override { return synthesizerOf(engines())->defaultFont(); }
  // The saved font is asked for before the window shows: the request waits
  // for the module, and goes before anything the module is opened for.
  void useSoundFont(const std::string& path,
                    std::function<void(const mci::SoundFontResult&)> done) override {
    Module::instance().whenOpen([path, done = std::move(done)](const Engines* e) mutable {
      synthesizerOf(e)->useSoundFont(path, std::move(done));
    });
  }
};

}  // namespace

void installEngines(const QStringList& folders) {
  std::string path;
  for (const QString& folder : folders) {
    path = platform::nativePath(folder + QStringLiteral("/") + QLatin1String(engines::kModuleFile))
               .toStdString();
    if (isFile(path)) break;
  }
  Module::instance().setPath(path);
  auto& table = mci::DeviceTable::instance();
  table.registerType("Sequencer", []() -> std::unique_ptr<mci::Device> {
    const Engines* e = engines();
    return e ? e->makeSequencer() : nullptr;
  });
  table.registerType("CDAudio", []() -> std::unique_ptr<mci::Device> {
    const Engines* e = engines();
    return e ? e->makeCdAudio() : nullptr;
  });
  mci::setMidiOutCatalog(std::make_shared<Catalog>());
  mci::setSynthesizer(std::make_shared<Synthesizer>());
}

void openEnginesInBackground() {
  if (Module::instance().claim())
    mci::runInBackground("opening the engines", [] { Module::instance().open(); });
}

void drainSystemPorts(std::chrono::milliseconds limit) {
  if (const Engines* e = Module::instance().ifOpen()) e->drainSystemPorts(limit);
}

}  // namespace plimra::app
