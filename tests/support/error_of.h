// What a test reads off a call that should fail with a message.
#ifndef TESSALY_TESTS_SUPPORT_ERROR_OF_H_
#define TESSALY_TESTS_SUPPORT_ERROR_OF_H_

#include <string>

namespace tessaly::support {

// The message of the `Error` that `f` throws; "" when it throws none.
template <typename Error, typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const Error& error) {
    return error.what();
  }
  return "";
}

}  // namespace tessaly::support

#endif  // TESSALY_TESTS_SUPPORT_ERROR_OF_H_
