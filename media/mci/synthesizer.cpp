#include "media/mci/synthesizer.h"

#include <mutex>

#include "media/mci/dispatch.h"

namespace plimra::mci {
namespace {

class Missing : public Synthesizer {
 public:
  std::string noSoundReason() override { return "The built-in synthesizer is not available."; }
  std::string defaultFont() override { return {}; }
  void useSoundFont(const std::string& path,
                    std::function<void(const SoundFontResult&)> done) override {
    if (!done) return;
    SoundFontResult result{path, path.empty() ? std::string() : noSoundReason()};
    postToGui([done = std::move(done), result] { done(result); });
  }
};

std::mutex installedMutex;
std::shared_ptr<Synthesizer> installed;

}  // namespace

void setSynthesizer(std::shared_ptr<Synthesizer> synthesizer) {
  std::lock_guard lock(installedMutex);
  installed = std::move(synthesizer);
}

std::shared_ptr<Synthesizer> synthesizer() {
  std::lock_guard lock(installedMutex);
  if (!installed) return std::make_shared<Missing>();
  return installed;
}

}  // namespace plimra::mci
