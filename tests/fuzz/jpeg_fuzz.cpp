// libFuzzer target for the JPEG decoder (see image_fuzz.h). Built and run by
// `make fuzz-jpeg`, seeded from tests/fuzz/jpeg_corpus.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return image_fuzz::run(data, size, kel::image_codecs::decode_jpeg, kel::image_codecs::encode_jpeg, false);
}
