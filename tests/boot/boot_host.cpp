// kel-boot-host: the program kel is, booting from a boot image read from a
// file, or from the embedded sources, so that the process tests can feed
// the boot a damaged image and compare what the two ways of booting make.
// A test program only: kel itself boots from the image linked into it.
//
//   kel-boot-host --sources [kel arguments...]
//   kel-boot-host <image file> [kel arguments...]
#include <pthread.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot/entry.h"

namespace {

struct Start {
  std::vector<char*> arguments;
  const kel::boot::BootImage* image;
};

void* run(void* data) {
  auto* start = static_cast<Start*>(data);
  // The arguments end with a null pointer, as main's do.
  kel::boot::entry(static_cast<int>(start->arguments.size()) - 1, start->arguments.data(), start->image);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: kel-boot-host (--sources | <image file>) [kel arguments...]\n");
    return 2;
  }
  std::string source = argv[1];
  std::vector<uint8_t> bytes;
  kel::boot::BootImage image{nullptr, 0};
  if (source != "--sources") {
    std::ifstream file(source, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "kel-boot-host: cannot read %s\n", source.c_str());
      return 2;
    }
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    // A vector of no bytes may hold no storage: the image is still there.
    bytes.reserve(1);
    image = {bytes.data(), bytes.size()};
  }
  Start start{{argv[0]}, &image};
  for (int i = 2; i < argc; ++i) start.arguments.push_back(argv[i]);
  start.arguments.push_back(nullptr);
  // The runtime's large stack, as kel gives it.
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, size_t{256} << 20);
  pthread_t thread;
  if (pthread_create(&thread, &attributes, run, &start) != 0) run(&start);
  pthread_join(thread, nullptr);
  return 0;
}
