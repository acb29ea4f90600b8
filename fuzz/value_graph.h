// A graph of Lua values built from fuzz input bytes: tables with keys and
// values of every type, shared subtables, cycles, deep chains, metatables
// with `__tostring` and `__name` of odd types, strings with NUL, newline,
// quotes and `%`, floats such as nan, inf, -0.0 and 1e308.
#pragma once

#include <cstddef>
#include <cstdint>
#include <lua.hpp>
#include <vector>

namespace quelto::fuzz {

/// What a `__tostring` made by the graph does when it is called.
enum class ToStringMode : lua_Integer { Return = 0, Raise = 1 };

/// The `__tostring` functions of the graph are C closures of this function
/// with two upvalues: the mode (an integer) and the value it returns or raises.
int tostring_closure(lua_State* L);

/// The plain function values of the graph: they return nothing.
int plain_function(lua_State* L);

/// Reads the fuzz input front to back; past its end every byte reads as 0.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint64_t word();  // 8 bytes, little-endian

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

/// The log call a fuzz input ends with.
struct LogCall {
  const char* method;     // "info", ..., or "log" with `priority` as its first argument
  lua_Integer priority;   // the priority the call logs at
  std::vector<int> args;  // absolute stack indices of the message arguments
};

/// Builds the graph on the stack of `L` (whose values stay there, as the pool
/// the operations pick from, until the caller resets the top) and returns the
/// log call to make with it.
LogCall build_graph(lua_State* L, ByteReader& in);

}  // namespace quelto::fuzz
