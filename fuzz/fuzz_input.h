// Reads the bytes of one fuzz input as the choices of a test: numbers in a
// range, flags and texts. An exhausted input answers zeros, so every input,
// however short, describes a complete run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : next(data), end(data + size) {}

  bool Empty() const { return next == end; }

  std::uint8_t Byte() { return next != end ? *next++ : 0; }

  bool Bool() { return (Byte() & 1) != 0; }

  // A number in [low, high], read from as many bytes as the range needs.
  std::int64_t Int(std::int64_t low, std::int64_t high) {
    const std::uint64_t range = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
    std::uint64_t value = 0;
    for (std::uint64_t seen = 0; seen < range && !Empty(); seen = (seen << 8) | 0xFF) {
      value = (value << 8) | Byte();
    }
    if (range != UINT64_MAX) value %= range + 1;
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + value);
  }

  // Up to maxLength bytes, the length read first.
  std::string Bytes(std::size_t maxLength) {
    std::size_t length = static_cast<std::size_t>(Int(0, static_cast<std::int64_t>(maxLength)));
    std::string bytes;
    while (length-- > 0 && !Empty()) bytes.push_back(static_cast<char>(Byte()));
    return bytes;
  }

  std::string Rest() {
    std::string rest(reinterpret_cast<const char*>(next), static_cast<std::size_t>(end - next));
    next = end;
    return rest;
  }

 private:
  const std::uint8_t* next;
  const std::uint8_t* end;
};
