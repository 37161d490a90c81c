// A column value or a bound parameter.
#ifndef TESSALY_DATA_VALUE_H_
#define TESSALY_DATA_VALUE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tessaly::data {

struct Blob {
  std::string bytes;
};

class Value {
 public:
  Value() = default;  // NULL
  Value(std::int64_t i) : v_(i) {}
  Value(int i) : v_(static_cast<std::int64_t>(i)) {}
  Value(double d) : v_(d) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Blob b) : v_(std::move(b)) {}

  bool IsNull() const { return std::holds_alternative<std::monostate>(v_); }
  const std::variant<std::monostate, std::int64_t, double, std::string, Blob>& Get() const {
    return v_;
  }

  // The value as text: NULL is "", numbers in decimal, blobs as their bytes.
  std::string ToText() const;
  // The value as a whole number; text must be a decimal integer. Throws DataError otherwise.
  std::int64_t ToInt() const;

 private:
  std::variant<std::monostate, std::int64_t, double, std::string, Blob> v_;
};

// Appends `text` to `json` as a JSON string (for lists and rows bound as one JSON value).
void AppendJsonString(std::string& json, std::string_view text);

}  // namespace tessaly::data

#endif  // TESSALY_DATA_VALUE_H_
