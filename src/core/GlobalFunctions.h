// Numeric helpers shared by the whole model: linear interpolation, the seeded
// uniform random generator and the breeding shuffle's, rounding, number
// formatting and wall-clock time. Every draw of the model goes through the
// uniform generator except the breeding shuffle's, whose sequence is the same
// in every run. Both are started once per run by the run driver; a fixed seed
// therefore repeats a run draw for draw, and a checkpoint carries both.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace soilweb {

// The line through (x0, y0) and (x1, y1) evaluated at x; extrapolates, never clamps.
double linearInterpolate(double x, double x0, double x1, double y0, double y1);

// Next value of the seeded generator, uniform in [0, 1).
double randomUniform();
// One draw mapped to [a, b) (a when a == b).
double randomUniform(double a, double b);
// One draw mapped to 0 .. n - 1 by truncation (0 when n is 0).
int randomIndex(int n);

// Next draw of the breeding shuffle's generator, 0 .. 2^31 - 1: the sequence
// of the system's rand() when never seeded, the same in every run.
int shuffleDraw();

// Seeds the generator and restarts the shuffle's; every later draw of the run
// depends on them.
void seedRandom(long seed);

// Where both generators stand, for a checkpoint.
struct RandomStreams {
  std::array<unsigned short, 3> uniform;      // the 48-bit state, lowest 16 bits first
  std::array<std::int32_t, 32> shuffleTable;  // the shuffle's state table, its kind first
  std::int32_t shuffleFront, shuffleRear;     // positions in the table past its first word
};
RandomStreams saveRandomStreams();
// Sets both generators; false (and nothing set) when the shuffle's positions are impossible.
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
