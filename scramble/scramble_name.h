// The keyless transform that keeps the database name from standing in plain
// text in the shared settings file. The product reads the stored text back,
// so fillers, separators and shifts are a stored format.
#ifndef VENDREL_SCRAMBLE_SCRAMBLE_NAME_H_
#define VENDREL_SCRAMBLE_SCRAMBLE_NAME_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vendrel {

// The generator behind the fillers: never seeded, so every run draws the
// same sequence from 0.
struct ScrambleGenerator {
  std::uint32_t state = 0;
};

constexpr std::uint32_t kFillerRange = 1000000;

// Advances the generator and returns a whole number below range.
std::uint32_t RandomDraw(ScrambleGenerator& generator, std::uint32_t range);

// The draw in decimal, its digits turned into "A"-"J", digits and "a"-"j"
// by position.
std::string FillerText(std::uint32_t draw);

// The shift, 0 to 9, for position k (from 1) and selector n: a digit of the
// decimal expansion of 10k/7 (n odd) or 100k/13 (n even), or 4 where the
// position falls on the decimal separator.
int ShiftDigit(int k, int n);

// Mode 'E' wraps the name between two fillers, each joined by an "m", and
// shifts every digit and ASCII letter forward by position; mode 'D' undoes
// it. The result never exceeds 255 characters.
std::string ScrambleName(std::string_view name, char mode, ScrambleGenerator& generator);

// The longest name that can be read back: longer ones lose the separator
// behind the name to the 255-character limit.
constexpr std::size_t kScrambleNameMax = 252;

}  // namespace vendrel

#endif  // VENDREL_SCRAMBLE_SCRAMBLE_NAME_H_
