// The host's reading of a delay record, byte for byte: the user-id field,
// then the packed date and time the delay began, each little-endian. The
// host's listing of delays, the benchmarks and the test tools use this one.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "host/host.h"

namespace simhost::delay_record {

constexpr std::size_t kUserIdOffset = 0;
constexpr std::size_t kUserIdSize = USERID_SIZE;  // zero-terminated when shorter
constexpr std::size_t kDateOffset = kUserIdOffset + kUserIdSize;
constexpr std::size_t kTimeOffset = kDateOffset + 2;
constexpr std::size_t kLength = kTimeOffset + 2;
static_assert(kLength == 34);

using Bytes = std::array<unsigned char, kLength>;

inline std::uint16_t readStamp(const unsigned char* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

// The user-id as stored: up to its terminator, or all of the field.
inline std::string userId(const unsigned char* record) {
  const char* field = reinterpret_cast<const char*>(record + kUserIdOffset);
  return std::string(field, strnlen(field, kUserIdSize));
}
inline std::uint16_t date(const unsigned char* record) { return readStamp(record + kDateOffset); }
inline std::uint16_t time(const unsigned char* record) { return readStamp(record + kTimeOffset); }

// A record as the module writes one: at most 29 bytes of user-id, zeros
// after it.
inline Bytes make(std::string_view id, std::uint16_t date, std::uint16_t time) {
  Bytes r{};
  std::memcpy(r.data() + kUserIdOffset, id.data(), std::min(id.size(), kUserIdSize - 1));
  r[kDateOffset] = static_cast<unsigned char>(date & 0xFF);
  r[kDateOffset + 1] = static_cast<unsigned char>(date >> 8);
  r[kTimeOffset] = static_cast<unsigned char>(time & 0xFF);
  r[kTimeOffset + 1] = static_cast<unsigned char>(time >> 8);
  return r;
}

}  // namespace simhost::delay_record
