#include "core/GlobalFunctions.h"

#include <atomic>

#include <sys/time.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace soilweb {

double linearInterpolate(double x, double x0, double x1, double y0, double y1) {
  const double slope = (y1 - y0) / (x1 - x0);
  return (x - x0) * slope + y0;
}

namespace {
// The breeding shuffle's generator: the system's additive generator in its
// default form (128 bytes of state), as rand() runs it when never seeded.
struct ShuffleStream {
  std::int32_t table[32];
  random_data data;
  ShuffleStream() { restart(); }
  // As rand() starts: as if seeded with 1.
  void restart() {
    data = random_data{};
    initstate_r(1, reinterpret_cast<char*>(table), sizeof table, &data);
  }
};
ShuffleStream shuffle;

// The neutral markers' seed, from the run's: the same 32 bits scrambled
// (splitmix64's finaliser) so that the two sequences share no stretch.
std::uint64_t neutralSeed(long seed) {
  std::uint64_t z = (static_cast<std::uint64_t>(seed) & 0xFFFFFFFFull) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return (z ^ (z >> 31)) & ((1ull << 48) - 1);
}

std::array<unsigned short, 3> wordsOf(std::uint64_t state) {
  std::array<unsigned short, 3> words;
  for (int k = 0; k < 3; ++k) words[k] = static_cast<unsigned short>(state >> (16 * k));
  return words;
}

std::uint64_t stateOf(const std::array<unsigned short, 3>& words) {
  std::uint64_t state = 0;
  for (int k = 0; k < 3; ++k) state |= static_cast<std::uint64_t>(words[k]) << (16 * k);
  return state;
}
}  // namespace

// Held here, not in a function, so that a checkpoint can carry them; stepped
// inline, since founding alone draws millions of numbers.
UniformStream modelDraws;
UniformStream neutralDraws;

double randomUniform() { return modelDraws.next(); }

double randomUniform(double a, double b) { return modelDraws.between(a, b); }

int randomIndex(int n) { return modelDraws.index(n); }

int shuffleDraw() {
  std::int32_t result;
  random_r(&shuffle.data, &result);
  return result;
}

// As srand48 seeds: the seed's low 32 bits above 0x330E.
void seedRandom(long seed) {
  modelDraws.state = (static_cast<std::uint64_t>(seed) & 0xFFFFFFFFull) << 16 | 0x330E;
  neutralDraws.state = neutralSeed(seed);
  shuffle.restart();
}

RandomStreams saveRandomStreams() {
  RandomStreams streams;
  streams.uniform = wordsOf(modelDraws.state);
  streams.neutral = wordsOf(neutralDraws.state);
  std::copy(std::begin(shuffle.table), std::end(shuffle.table), streams.shuffleTable.begin());
  streams.shuffleFront = static_cast<std::int32_t>(shuffle.data.fptr - shuffle.data.state);
  streams.shuffleRear = static_cast<std::int32_t>(shuffle.data.rptr - shuffle.data.state);
  return streams;
}

bool restoreRandomStreams(const RandomStreams& streams) {
  shuffle.restart();  // the generator's shape: its kind, degree and separation
  const auto degree = shuffle.data.rand_deg;
  auto inside = [&](std::int32_t offset) { return offset >= 0 && offset < degree; };
  if (!inside(streams.shuffleFront) || !inside(streams.shuffleRear) ||
      (streams.shuffleFront - streams.shuffleRear + degree) % degree != shuffle.data.rand_sep)
    return false;
  modelDraws.state = stateOf(streams.uniform);
  neutralDraws.state = stateOf(streams.neutral);
  std::copy(streams.shuffleTable.begin(), streams.shuffleTable.end(), std::begin(shuffle.table));
  shuffle.data.fptr = shuffle.data.state + streams.shuffleFront;
  shuffle.data.rptr = shuffle.data.state + streams.shuffleRear;
  return true;
}

namespace {
bool fitsInInt(double x) { return x > static_cast<double>(INT_MIN) - 1.0 && x < static_cast<double>(INT_MAX) + 1.0; }
}  // namespace

int roundToInt(double x) {
  const double r = std::round(x);
  return fitsInInt(r) ? static_cast<int>(r) : INT_MIN;
}

int truncateToInt(double x) { return fitsInInt(x) ? static_cast<int>(x) : INT_MIN; }

std::uint64_t get_timestamp() {
  struct timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000000u + static_cast<std::uint64_t>(now.tv_usec);
}

namespace {
// The exact six-digit form, as printf's %g writes it (slow but always right).
char* writeDoubleExactly(char* at, double x) {
  return std::to_chars(at, at + 32, x, std::chars_format::general, 6).ptr;
}

// 10^0 to 10^22: every one of them is an exact double.
constexpr double POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int LARGEST_EXACT_POWER = 22;

// magnitude times 10^shift, rounded once; |shift| at most LARGEST_EXACT_POWER.
double scaleByPowerOfTen(double magnitude, int shift) {
  return shift >= 0 ? magnitude * POWERS_OF_TEN[shift] : magnitude / POWERS_OF_TEN[-shift];
}

// The decimal exponent of a normal magnitude, or one less: from its binary
// exponent times log10(2) (78913 / 2^18), rounded down.
int decimalExponentAtMost(double magnitude) {
  std::uint64_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int binaryExponent = static_cast<int>(bits >> 52) - 1023;
  return (binaryExponent * 78913) >> 18;
}
}  // namespace

char* writeInt(char* at, long long n) { return std::to_chars(at, at + 24, n).ptr; }

namespace {
// The six significant digits of a normal magnitude, rounded half up, and the
// decimal exponent of the first; 0 where only the exact conversion can tell.
// The magnitude is scaled by an exact power of ten to six digits before the
// point, in one correctly rounded multiplication or division, so the scaled
// value is off by less than 1.2e-10; its rounding to a whole number is then
// the rounding of the exact product unless it lies within 1e-9 of a half.
long long sixDigits(double magnitude, int& exponent) {
  exponent = decimalExponentAtMost(magnitude);  // of the leading digit, once scaled
  if (5 - exponent > LARGEST_EXACT_POWER || 4 - exponent < -LARGEST_EXACT_POWER) return 0;
  double scaled = scaleByPowerOfTen(magnitude, 5 - exponent);
  if (scaled >= 1e6) scaled = scaleByPowerOfTen(magnitude, 5 - ++exponent);  // seven digits: one too few
  const double whole = std::floor(scaled);
  const double fraction = scaled - whole;  // exact
  if (std::fabs(fraction - 0.5) < 1e-9) return 0;
  long long rounded = static_cast<long long>(whole) + (fraction > 0.5 ? 1 : 0);
  if (rounded == 1000000) {  // 999999.5 becomes 1000000: one more digit before the point
    rounded = 100000;
    ++exponent;
  }
  return rounded < 100000 || rounded > 999999 ? 0 : rounded;  // not six digits: cannot happen
}

// Writes six digits (trailing zeros dropped, as %g does) where the exponent
// of the first puts them: in exponent form, after "0." or around the point.
char* writeSixDigits(char* at, bool negative, long long rounded, int exponent) {
  char digits[24] = {};  // the room writeInt asks for
  writeInt(digits, rounded);
  int count = 6;
  while (count > 1 && digits[count - 1] == '0') --count;
  // At most six digits, copied as eight: the room after at allows it.
  auto put = [&at](const char* from, int n) {
    std::memcpy(at, from, 8);
    at += n;
  };
  if (negative) *at++ = '-';
  if (exponent < -4 || exponent >= 6) {
    *at++ = digits[0];
    if (count > 1) {
      *at++ = '.';
      put(digits + 1, count - 1);
    }
    *at++ = 'e';
    *at++ = exponent < 0 ? '-' : '+';
    const int exponentSize = exponent < 0 ? -exponent : exponent;
    if (exponentSize < 10) *at++ = '0';
    return writeInt(at, exponentSize);
  }
  if (exponent < 0) {
    *at++ = '0';
    *at++ = '.';
    at = std::fill_n(at, -exponent - 1, '0');
    put(digits, count);
    return at;
  }
  const int wholeDigits = exponent + 1;
  if (count <= wholeDigits) {
    put(digits, count);
    return std::fill_n(at, wholeDigits - count, '0');
  }
  put(digits, wholeDigits);
  *at++ = '.';
  put(digits + wholeDigits, count - wholeDigits);
  return at;
}
}  // namespace

// Fast path: six digits by scaling (see sixDigits); zero, subnormals,
// infinities, NaN, the far ends of the range and near-ties take the exact
// conversion.
namespace {
// Counted where they are written, so that a run notices them without scanning what it writes.
std::atomic<std::uint64_t> nonFiniteWritten{0};
}  // namespace

std::uint64_t nonFiniteNumbersWritten() { return nonFiniteWritten.load(std::memory_order_relaxed); }

char* writeDouble(char* at, double x) {
  if (!std::isnormal(x)) {
    if (!std::isfinite(x)) nonFiniteWritten.fetch_add(1, std::memory_order_relaxed);
    return writeDoubleExactly(at, x);
  }
  const double magnitude = std::fabs(x);
  if (magnitude < 1e6 && x == std::trunc(x)) return writeInt(at, static_cast<long long>(x));  // "%g" of 42.0 is "42"
  int exponent = 0;
  const long long rounded = sixDigits(magnitude, exponent);
  return rounded == 0 ? writeDoubleExactly(at, x) : writeSixDigits(at, x < 0, rounded, exponent);
}

void appendDouble(std::string& out, double x) {
  char text[32];
  out.append(text, writeDouble(text, x));
}

std::string jsonQuoted(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void appendInt(std::string& out, long long n) {
  char text[24];
  out.append(text, writeInt(text, n));
}

std::string gibibytes(double bytes) {
  std::string text;
  appendDouble(text, bytes / (1 << 30));
  return text + " GiB";
}

}  // namespace soilweb
