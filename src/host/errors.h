// The one exception type that ends a request: a failing host call, data call or conversion.
// The server catches it at the request's edge; `what()` is for the log, never for the visitor.
#ifndef TESSALY_HOST_ERRORS_H_
#define TESSALY_HOST_ERRORS_H_

#include <stdexcept>
#include <string>

namespace tessaly {

class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value could not be converted (property let, number parsing).
class ConversionError : public Error {
 public:
  using Error::Error;
};

// A database call failed (open, prepare, step, constraint).
class DataError : public Error {
 public:
  using Error::Error;
};

// The request body could not be taken apart as the caller expected.
class InvalidArgument : public Error {
 public:
  using Error::Error;
};

}  // namespace tessaly

#endif  // TESSALY_HOST_ERRORS_H_
