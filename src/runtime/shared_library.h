// A shared library opened at run time, and the functions taken from it.
//
// Libraries that few runs need (libcrypto for digests, libcurl for HTTP)
// are opened at their first use instead of being linked, so that starting
// kel binds only what every run uses. The library stays open for the life
// of the process; a function that is missing leaves its slot null and
// makes complete() false, so the caller can refuse the whole library at
// once instead of failing on one call later.
#pragma once

#include <dlfcn.h>

namespace kel {

class SharedLibrary {
 public:
  explicit SharedLibrary(const char* name) : handle_(::dlopen(name, RTLD_NOW | RTLD_LOCAL)) {}

  // Fills slot with the function named symbol (null when it is missing).
  template <typename Function>
  void take(Function** slot, const char* symbol) {
    void* address = handle_ != nullptr ? ::dlsym(handle_, symbol) : nullptr;
    complete_ = complete_ && address != nullptr;
    *slot = reinterpret_cast<Function*>(address);
  }

  // The library opened and every function taken was found.
  bool complete() const { return handle_ != nullptr && complete_; }

 private:
  void* handle_;
  bool complete_ = true;
};

}  // namespace kel
