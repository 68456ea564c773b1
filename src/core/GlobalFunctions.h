// Numeric helpers shared by the whole model: linear interpolation, the seeded
// uniform random generator and the breeding shuffle's, rounding, number
// formatting and wall-clock time. Every draw of the model goes through the
// uniform generator except the breeding shuffle's, whose sequence is the same
// in every run. Neutral genetic markers draw from a third generator of their
// own, so that turning them on moves no draw of the model. All three are
// started once per run by the run driver; a fixed seed therefore repeats a run
// draw for draw, and a checkpoint carries them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace soilweb {

// The line through (x0, y0) and (x1, y1) evaluated at x; extrapolates, never clamps.
double linearInterpolate(double x, double x0, double x1, double y0, double y1);

// A 48-bit linear congruential sequence, drand48's: the model's uniform
// generator and the neutral markers' are two of them.
class UniformStream {
 public:
  // As erand48 returns it: the 48 new bits over 2^48, exactly.
  double next() {
    state = (state * 0x5DEECE66Dull + 0xB) & ((1ull << 48) - 1);
    return static_cast<double>(state) * 0x1p-48;
  }
  // One draw mapped to [a, b) (a when a == b).
  double between(double a, double b) {
    const double u = next();
    return u * (b - a) + a;
  }
  // One draw mapped to 0 .. n - 1 by truncation (0 when n is 0).
  int index(int n) {
    const double u = next();
    return static_cast<int>(u * n);
  }
  std::uint64_t state = 0;
};

// The model's draws; and the neutral markers', read by nothing in the model.
extern UniformStream modelDraws;
extern UniformStream neutralDraws;

// Next value of the seeded generator, uniform in [0, 1).
double randomUniform();
// One draw mapped to [a, b) (a when a == b).
double randomUniform(double a, double b);
// One draw mapped to 0 .. n - 1 by truncation (0 when n is 0).
int randomIndex(int n);

// Next draw of the breeding shuffle's generator, 0 .. 2^31 - 1: the sequence
// of the system's rand() when never seeded, the same in every run.
int shuffleDraw();

// Seeds the generator and restarts the shuffle's, and seeds the neutral
// markers' generator from the same seed; every later draw of the run depends
// on them.
void seedRandom(long seed);

// Where both generators stand, for a checkpoint.
struct RandomStreams {
  std::array<unsigned short, 3> uniform;      // the 48-bit state, lowest 16 bits first
  std::array<unsigned short, 3> neutral;      // the neutral markers', the same way
  std::array<std::int32_t, 32> shuffleTable;  // the shuffle's state table, its kind first
  std::int32_t shuffleFront, shuffleRear;     // positions in the table past its first word
};
RandomStreams saveRandomStreams();
// Sets the generators; false (and nothing set) when the shuffle's positions are impossible.
bool restoreRandomStreams(const RandomStreams& streams);

// Nearest whole number, halves away from zero, as an int. Values that no int
// can hold (and NaN) give INT_MIN, the value the hardware conversion yields,
// so that absurd inputs stay absurd instead of becoming undefined behaviour.
int roundToInt(double x);
// Drops the fraction; the same rule for values outside int.
int truncateToInt(double x);

// Wall-clock time in microseconds.
std::uint64_t get_timestamp();

// Appends x as the default stream format writes it: six significant digits,
// fixed or exponent notation as printf's %g chooses, "inf", "-inf", "nan", "-nan".
void appendDouble(std::string& out, double x);
// A number of bytes in GiB, as "1.5 GiB".
std::string gibibytes(double bytes);
// Appends n in plain decimal.
void appendInt(std::string& out, long long n);
// text as a JSON string: quoted, with '"', '\\' and control characters escaped.
std::string jsonQuoted(const std::string& text);
// The same two, written at a position with room for 32 characters; return the
// end of what they wrote.
char* writeDouble(char* at, double x);
// How many numbers that are not finite (inf, nan) the two have written so far, in all.
std::uint64_t nonFiniteNumbersWritten();
char* writeInt(char* at, long long n);

}  // namespace soilweb
