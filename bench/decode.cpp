// nptv-bench-decode: the reply decoders on replies of a fixed size, as
// callgrind regions (see driver.cpp for the region protocol).
//
//   nptv-bench-decode check      each reply decoded once, output checked
//   nptv-bench-decode run N      regions "decode:<kind><bytes>:<iterations>"
//
// Reply sizes count every byte of the reply, marker included.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/CQuvBase.h"

using NSPlTV::CQuvBase;

namespace {

struct Reply {
  std::string key;    // "unicode16", "ascii1000"
  bool unicode;
  std::string reply;  // exactly `size` bytes
  std::string expect; // the UTF-8 text the decoder must produce
};

// Characters of one, two and three UTF-8 bytes, all one UTF-16 unit.
const char* const kPieces[] = {"a", "\xC3\xA9", "\xE6\x9D\xB1", "Z", "\xC3\xBC", " "};
const unsigned short kUnits[] = {'a', 0x00E9, 0x6771, 'Z', 0x00FC, ' '};

Reply MakeUnicode(std::size_t size) {
  // Marker, (size-1)/2 units of which the last is the terminator, and a stray
  // byte when size-1 is odd (the decoder drops it).
  Reply r{"unicode" + std::to_string(size), true, "U", ""};
  const std::size_t units = (size - 1) / 2;
  for (std::size_t i = 0; i + 1 < units; ++i) {
    unsigned short u = kUnits[i % 6];
    r.reply.push_back(static_cast<char>(u & 0xFF));
    r.reply.push_back(static_cast<char>(u >> 8));
    r.expect += kPieces[i % 6];
  }
  r.reply.append(2, '\0');
  if (r.reply.size() < size) r.reply.push_back('\0');
  return r;
}

Reply MakeAscii(std::size_t size) {
  Reply r{"ascii" + std::to_string(size), false, "A", ""};
  for (std::size_t i = 1; i < size; ++i) r.expect.push_back(static_cast<char>('a' + i % 26));
  r.reply += r.expect;
  return r;
}

std::vector<Reply> Replies() {
  return {MakeUnicode(16), MakeUnicode(1000), MakeAscii(16), MakeAscii(1000)};
}

// 1024 bytes like the decoder's own work buffer; enough for every reply here.
alignas(8) char gBuffer[1024];

__attribute__((noinline)) bool DecodeOnce(Reply& r) {
  if (r.unicode)
    return CQuvBase::GetUNICODE(r.reply, reinterpret_cast<unsigned short*>(gBuffer),
                                sizeof gBuffer);
  return CQuvBase::GetASCII(r.reply, gBuffer, sizeof gBuffer);
}

bool Check(Reply& r) {
  std::memset(gBuffer, 0x55, sizeof gBuffer);
  bool ok = DecodeOnce(r) && std::memcmp(gBuffer, r.expect.data(), r.expect.size()) == 0 &&
            gBuffer[r.expect.size()] == '\0';
  std::printf("%s %s reply of %zu bytes -> %zu bytes of UTF-8\n", ok ? "ok" : "FAILED",
              r.key.c_str(), r.reply.size(), r.expect.size());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Reply> replies = Replies();
  int failed = 0;
  for (Reply& r : replies)
    if (!Check(r)) ++failed;
  if (failed) {
    std::fprintf(stderr, "nptv-bench-decode: %d decoder result(s) wrong\n", failed);
    return 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "check") == 0) return 0;
  if (argc != 3 || std::strcmp(argv[1], "run") != 0) {
    std::fprintf(stderr, "usage: nptv-bench-decode check | run N\n");
    return 2;
  }
  long n = std::strtol(argv[2], nullptr, 10);
  if (n <= 0) return 2;
  long bad = 0;
  for (Reply& r : replies) {
    for (int i = 0; i < 16; ++i) bad += !DecodeOnce(r);
    for (long iters : {n, 2 * n}) {
      std::string label = "decode:" + r.key + ":" + std::to_string(iters);
      CALLGRIND_ZERO_STATS;
      CALLGRIND_TOGGLE_COLLECT;
      for (long i = 0; i < iters; ++i) bad += !DecodeOnce(r);
      CALLGRIND_TOGGLE_COLLECT;
      CALLGRIND_DUMP_STATS_AT(label.c_str());
      std::printf("region %s\n", label.c_str());
    }
  }
  return bad ? 1 : 0;
}
