// The project's error types. Every layer throws these and nothing else of its own, so that a
// caller can tell a bad setting from a failed request without parsing messages. `what()` is
// one line for a log or a terminal, never text for a visitor.
#ifndef TESSALY_BASE_ERRORS_H_
#define TESSALY_BASE_ERRORS_H_

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

// A request or its body could not be taken apart as the caller expected.
class InvalidArgument : public Error {
 public:
  using Error::Error;
};

// A setting (configuration file, command-line flag, listen address) is unusable.
class ConfigError : public Error {
 public:
  using Error::Error;
};

}  // namespace tessaly

#endif  // TESSALY_BASE_ERRORS_H_
