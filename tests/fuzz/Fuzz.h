// Shared by the fuzz targets: the aborting property check (libFuzzer and the
// replay driver report the input), a reader of typed values from the input's
// front, and strtol of a decimal text clamped to 32 bits.
#ifndef NPTV_TESTS_FUZZ_FUZZ_H
#define NPTV_TESTS_FUZZ_FUZZ_H

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(condition, ...)                                                  \
  do {                                                                              \
    if (!(condition)) {                                                             \
      std::fprintf(stderr, "%s:%d: property violated: %s\n  ", __FILE__, __LINE__, \
                   #condition);                                                     \
      std::fprintf(stderr, __VA_ARGS__);                                            \
      std::fputc('\n', stderr);                                                     \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace fuzz {

// strtol of `text` (stopping at a byte 0 like any other), clamped to int.
inline int StrtolClamped(const std::string& text) {
  errno = 0;
  long value = std::strtol(text.c_str(), nullptr, 10);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Reads from the input's front; past its end every read yields 0 or the empty
// text, so every input is a complete program.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : p_(data), n_(size) {}
  bool empty() const { return n_ == 0; }
  std::size_t left() const { return n_; }

  uint8_t Byte() {
    if (!n_) return 0;
    --n_;
    return *p_++;
  }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
  double Double() {
    uint64_t bits = U32() | static_cast<uint64_t>(U32()) << 32;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  // A text of the given length (or what is left).
  std::string Bytes(std::size_t length) {
    if (length > n_) length = n_;
    std::string s(reinterpret_cast<const char*>(p_), length);
    p_ += length;
    n_ -= length;
    return s;
  }
  // A text whose length is a leading 16-bit count.
  std::string Text() { return Bytes(U16()); }
  std::string Rest() { return Bytes(n_); }

 private:
  const uint8_t* p_;
  std::size_t n_;
};

}  // namespace fuzz

#endif
