// An integer result that is usually a list of small values (measurement
// bits, tableau entries): stored as bytes when every value fits in 0..255,
// which lets the binding build the Python list as cheaply as list(bytes).
#pragma once

#include <cstdint>
#include <vector>

namespace nimbic {

struct IntList {
  std::vector<uint8_t> small;  // used when `wide` is empty
  std::vector<int64_t> wide;
};

}  // namespace nimbic
