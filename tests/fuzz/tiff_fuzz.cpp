// libFuzzer target for the TIFF decoder (see image_fuzz.h). Built and run by
// `make fuzz-tiff`, seeded from tests/fuzz/tiff_corpus.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return image_fuzz::run(data, size, kel::image_codecs::decode_tiff, kel::image_codecs::encode_tiff, true);
}
