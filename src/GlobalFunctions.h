// Numeric helpers shared by the whole model: linear interpolation, the seeded
// uniform random generator, rounding, number formatting and wall-clock time.
// Every draw of the model goes through the generator except the breeding
// shuffle, which uses the system rand, never seeded, so it too repeats from run
// to run. The generator is seeded once per run by the run driver; a fixed seed
// therefore repeats a run draw for draw.
#pragma once

#include <cstdint>
#include <string>

// The line through (x0, y0) and (x1, y1) evaluated at x; extrapolates, never clamps.
double linearInterpolate(double x, double x0, double x1, double y0, double y1);

// Next value of the seeded generator, uniform in [0, 1).
double randomUniform();
// One draw mapped to [a, b) (a when a == b).
double randomUniform(double a, double b);
// One draw mapped to 0 .. n - 1 by truncation (0 when n is 0).
int randomIndex(int n);

// Seeds the generator; every later draw of the run depends on it.
void seedRandom(long seed);

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
// The same two, written at a position with room for 32 characters; return the
// end of what they wrote.
char* writeDouble(char* at, double x);
char* writeInt(char* at, long long n);
