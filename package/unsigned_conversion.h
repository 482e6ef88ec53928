#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velkora {

struct Unsigned32Conversion {
    std::uint32_t value = 0;
    std::size_t consumed = 0;  // characters used, counted from the start of the text
};

// Converts the start of the text the way the C library's unsigned conversion does where
// `unsigned long` has 32 bits, so that every platform accepts and refuses the same texts:
// leading white space, one optional sign (a minus negates modulo 2^32, so "-1" gives
// 4294967295), in base 16 an optional "0x" or "0X" before at least one hexadecimal digit,
// then digits up to the first character that is not one. Fails with std::invalid_argument
// "invalid stoul argument" when there is no digit and with std::out_of_range "stoul argument
// out of range" when the digits exceed 4294967295. `base` is 10 or 16.
Unsigned32Conversion convertUnsigned32(std::string_view text, unsigned base);

}  // namespace velkora
