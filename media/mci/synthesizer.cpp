#include "media/mci/synthesizer.h"

#include <mutex>

#include "media/mci/dispatch.h"

namespace plimra::mci {
void MissingSynthesizer::useSoundFont(const std::string& path,
                                      std::function<void(const SoundFontResult&)> done) {
  if (!done) return;
  SoundFontResult result{path, path.empty() ? std::string() : reason_};
  postToGui([done = std::move(done), result] { done(result); });
}

namespace {

std::mutex installedMutex;
std::shared_ptr<Synthesizer> installed;

}  // namespace

void setSynthesizer(std::shared_ptr<Synthesizer> synthesizer) {
  std::lock_guard lock(installedMutex);
  installed = std::move(synthesizer);
}

std::shared_ptr<Synthesizer> synthesizer() {
  std::lock_guard lock(installedMutex);
  if (!installed)
    return std::make_shared<MissingSynthesizer>("The built-in synthesizer is not available.");
  return installed;
}

}  // namespace plimra::mci
