// Times lexer::load on one file: the loading of a whole source text into a
// block, as the lexer benchmark (lexer_load.sh) compares it with Python's
// json.loads on the same data. Prints the seconds and the top-level count.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "boot/entry.h"
#include "io/lexer.h"
#include "runtime/memory.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: lexer_load FILE\n");
    return 2;
  }
  kel::boot::init_runtime(nullptr);
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  auto start = std::chrono::steady_clock::now();
  kel::Cell result;
  kel::lexer::load(&result, reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.3f %u\n", seconds, kel::memory::buffer_of(result.data2)->cell_count());
  return 0;
}
