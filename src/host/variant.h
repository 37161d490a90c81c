// A small stand-in for the automation VARIANT: the values that a page's settings can carry
// into the component's properties, with the two coercions the properties need.
#ifndef TESSALY_HOST_VARIANT_H_
#define TESSALY_HOST_VARIANT_H_

#include <cstdint>
#include <string>
#include <variant>

namespace tessaly::host {

// Empty (never set), Null, a boolean, a 32-bit integer, a double or a string.
class Variant {
 public:
  struct Empty {};
  struct Null {};

  Variant() = default;
  Variant(Null) : value_(Null{}) {}
  Variant(bool b) : value_(b) {}
  Variant(std::int32_t i) : value_(i) {}
  Variant(double d) : value_(d) {}
  Variant(std::string s) : value_(std::move(s)) {}
  Variant(const char* s) : value_(std::string(s)) {}

  bool IsEmpty() const { return std::holds_alternative<Empty>(value_); }
  bool IsNull() const { return std::holds_alternative<Null>(value_); }

  // Empty gives "", numbers their shortest decimal text, booleans "True"/"False".
  // Throws ConversionError for Null.
  std::string ToString() const;

  // Empty gives 0; doubles and numeric text are rounded to the nearest integer, halves to the
  // even one. Throws ConversionError for Null, non-numeric text and values outside int32.
  std::int32_t ToInt32() const;

 private:
  std::variant<Empty, Null, bool, std::int32_t, double, std::string> value_;
};

}  // namespace tessaly::host

#endif  // TESSALY_HOST_VARIANT_H_
