// Layer probe: a store file may include the layers below it.
#include "store/datafile.h"
#include "wire/packages.h"

int ProbeWireRequestSize() {
  return qv::wire::request::kSize;
}
