// libFuzzer target for the PNG decoder (see image_fuzz.h). Built and run by
// `make fuzz-png`, seeded from tests/fuzz/png_corpus.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return image_fuzz::run(data, size, kel::image_codecs::decode_png, kel::image_codecs::encode_png, true);
}
