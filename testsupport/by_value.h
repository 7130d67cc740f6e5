// A field of a packed image record, read out as a value.
#pragma once

namespace hbt::testsupport {

// The image's records are packed and lie at any offset, while the test assertions take their
// arguments by reference: a reference bound to a misaligned field is undefined behaviour
// (gcc quietly binds a copy, clang the field itself). Passing the field through here copies
// it first.
template <typename T>
constexpr T by_value(T field) {
  return field;
}

}  // namespace hbt::testsupport
