#pragma once
// Errors the profile store raises to its caller. Soft failures (a missing value or file, an
// invalid index given to a validating operation) are false results instead.
#include <stdexcept>

namespace kv {

// An index outside its range given to an operation that does not validate it, or found in a
// stored record.
class ProfileRangeError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// A file or folder of the store that exists but cannot be read, written or created.
class ProfileFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace kv
