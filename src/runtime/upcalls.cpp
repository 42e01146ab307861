// The registration table (see upcalls.h).
#include "runtime/upcalls.h"

namespace kel::upcalls {

Table table;

std::vector<std::string> empty_entries() {
  std::vector<std::string> empty;
#define KEL_UPCALL_CHECK(layer, name, type, use) \
  if (table.name == nullptr) empty.push_back(#layer " " #name " (" use ")");
  KEL_UPCALLS(KEL_UPCALL_CHECK)
#undef KEL_UPCALL_CHECK
  return empty;
}

}  // namespace kel::upcalls
