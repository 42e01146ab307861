// libFuzzer target for the BMP decoder (see image_fuzz.h). Built and run by
// `make fuzz-bmp`, seeded from tests/fuzz/bmp_corpus.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return image_fuzz::run(data, size, kel::image_codecs::decode_bmp, kel::image_codecs::encode_bmp, true);
}
