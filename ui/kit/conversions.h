// Text, number and Boolean conversions with the classic BASIC rules the
// windows and the settings file rely on.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace plimra::kit {

// Number to text: a blank where a plus sign would be, "-" for negatives.
QString Str(int64_t value);

// The leading number of a text: blanks, tabs and line feeds are ignored
// anywhere, "&H" and "&O" prefixes give hex and octal; no number gives 0.
double Val(const QString& text);

// Text to Boolean: "True"/"False" in any letter case, or a number (0 false,
// anything else true), surrounded by blanks at most. Anything else does not
// convert.
std::optional<bool> CBool(const QString& text);

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2,
// 3.5 -> 4). Values outside 16 bits (or not finite) do not convert.
std::optional<int16_t> CInt(double value);
// The same for 32 bits.
std::optional<int32_t> CLng(double value);

// "True" / "False", the way Booleans are written to text.
QString BoolText(bool value);

// Reseeds the generator from the time of day.
void Randomize();
// Uniform in [0, 1), single precision.
float Rnd();

}  // namespace plimra::kit
