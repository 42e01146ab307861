// libFuzzer target for the GIF decoder (see image_fuzz.h). Built and run by
// `make fuzz-gif`, seeded from tests/fuzz/gif_corpus.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return image_fuzz::run(data, size, kel::image_codecs::decode_gif, kel::image_codecs::encode_gif, false);
}
