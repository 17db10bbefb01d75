// Feeds arbitrary bytes to the settings file reader and checks what it
// promises: what it writes reads back the same, a value set is the value
// read, and no value read is longer than the bound.
#include <cstdlib>

#include "settings/profile.h"

using namespace plimra::settings;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  Profile p = Profile::fromBytes(bytes);
  const QByteArray once = p.toBytes();
  if (Profile::fromBytes(once).toBytes() != once) std::abort();

  for (const char* key : {"Dir", "Drive", "Reset", "Top"}) {
    const auto v = p.value(QStringLiteral("MID"), QLatin1String(key));
    if (v && v->toUtf8().size() > kMaxValueBytes) std::abort();
  }
  // Setting keys never disturbs the others, whatever the file held.
  const auto drive = p.value(QStringLiteral("mid"), QStringLiteral("DRIVE"));
  if (p.setValue(QStringLiteral("MID"), QStringLiteral("Dir"), QStringLiteral("/x y")) &&
      p.value(QStringLiteral("MID"), QStringLiteral("Dir")) != QStringLiteral("/x y"))
    std::abort();
  if (p.value(QStringLiteral("MID"), QStringLiteral("Drive")) != drive) std::abort();
  p.setValue(QStringLiteral("Plimra"), QStringLiteral("Top"), QStringLiteral(" 15"));
  if (p.value(QStringLiteral("plimra"), QStringLiteral("top")) != QStringLiteral("15"))
    std::abort();
  return 0;
}
