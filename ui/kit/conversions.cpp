#include "ui/kit/conversions.h"

#include <chrono>
#include <cmath>
#include <random>
#include <limits>

namespace plimra::kit {

namespace {

bool isBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Reads a number at the start of `s` (which holds no blanks). Sets
// `consumed` to the number of characters that formed it (0: no number).
double parseLeadingNumber(const QString& s, qsizetype& consumed) {
  consumed = 0;
  const qsizetype n = s.size();
  if (n >= 2 && s[0] == u'&') {
    const QChar kind = s[1].toUpper();
    int base = kind == u'H' ? 16 : kind == u'O' ? 8 : 0;
    if (base != 0) {
      qsizetype i = 2;
      uint64_t v = 0;
      int digits = 0;
      while (i < n) {
        const int d = s[i].isDigit() ? s[i].digitValue()
                      : (base == 16 && s[i].toUpper() >= u'A' && s[i].toUpper() <= u'F')
                          ? s[i].toUpper().unicode() - u'A' + 10
                          : -1;
        if (d < 0 || d >= base) break;
        if (v <= 0xFFFFFFFFull) v = v * base + d;
        ++digits;
        ++i;
      }
      if (digits == 0) return 0;
      consumed = i;
      if (v > 0xFFFFFFFFull) return static_cast<double>(v);
      // Like the classic integer literals: up to 16 bits the value is a
      // signed 16-bit integer, up to 32 bits a signed 32-bit one.
      if (v <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(v));
      return static_cast<int32_t>(static_cast<uint32_t>(v));
    }
  }
  qsizetype i = 0;
  QString text;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) text += s[i++];
  qsizetype mantissaDigits = 0;
  while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
    text += s[i++];
    ++mantissaDigits;
  }
  if (i < n && s[i] == u'.') {
    text += s[i++];
    while (i < n && s[i].isDigit() && s[i].unicode() < 128) {
      text += s[i++];
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0) return 0;
  consumed = i;
  if (i < n && (s[i].toUpper() == u'E' || s[i].toUpper() == u'D')) {
    qsizetype j = i + 1;
    QString exp = QStringLiteral("e");
    if (j < n && (s[j] == u'+' || s[j] == u'-')) exp += s[j++];
    qsizetype expDigits = 0;
    while (j < n && s[j].isDigit() && s[j].unicode() < 128) {
      exp += s[j++];
      ++expDigits;
    }
    if (expDigits > 0) {
      text += exp;
      consumed = j;
    }
  }
  bool ok = false;
  const double v = text.toDouble(&ok);
  // An exponent too large gives infinity; keep the largest finite value
  // rather than a number nothing downstream can use.
  if (!ok || !std::isfinite(v))
    return text.startsWith(u'-') ? std::numeric_limits<double>::lowest()
                                 : std::numeric_limits<double>::max();
  return v;
}

}  // namespace

QString Str(int64_t value) {
  return value < 0 ? QString::number(value) : QStringLiteral(" ") + QString::number(value);
}

double Val(const QString& text) {
  QString compact;
  compact.reserve(text.size());
  for (QChar c : text)
    if (!isBlank(c)) compact += c;
  qsizetype consumed = 0;
  return parseLeadingNumber(compact, consumed);
}

std::optional<bool> CBool(const QString& text) {
  const QString t = text.trimmed();
  if (t.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
  if (t.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return false;
  qsizetype consumed = 0;
  const double v = parseLeadingNumber(t, consumed);
  if (consumed == 0 || consumed != t.size()) return std::nullopt;
  return v != 0;
}

std::optional<int16_t> CInt(double value) {
  const auto v = CLng(value);
  if (!v || *v < std::numeric_limits<int16_t>::min() || *v > std::numeric_limits<int16_t>::max())
    return std::nullopt;
  return static_cast<int16_t>(*v);
}

std::optional<int32_t> CLng(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  // nearbyint follows the default rounding mode, round-half-to-even.
  const double r = std::nearbyint(value);
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(r);
}

QString BoolText(bool value) { return value ? QStringLiteral("True") : QStringLiteral("False"); }

namespace {
std::mt19937& generator() {
  static std::mt19937 g(12345u);
  return g;
}
}  // namespace

void Randomize() {
  // The time of day down to the microsecond, so that draws a moment apart
  // get different seeds.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
  const auto ofDay = static_cast<uint64_t>(us % (86400LL * 1000000LL));
  generator().seed(static_cast<uint32_t>(ofDay ^ (ofDay >> 32)));
}

float Rnd() {
  // 24 random bits scaled by 2^-24: every value is exact in single
  // precision and strictly below 1.
  return static_cast<float>(generator()() >> 8) * (1.0f / 16777216.0f);
}

}  // namespace plimra::kit
