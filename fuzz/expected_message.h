// What a log call over a fuzz graph must do, worked out apart from the
// module: the message it logs (or the error it raises), and which stretches
// of that message are text taken from Lua values rather than structure.
#pragma once

#include <cstddef>
#include <lua.hpp>
#include <string>
#include <vector>

#include "value_graph.h"

namespace quelto::fuzz {

/// A stretch [begin, end) of the message copied from a Lua value: a string,
/// a key, a `__name` or a `__tostring` text. Braces and quotes in it are data.
struct Span {
  std::size_t begin;
  std::size_t end;
};

/// Shared subtables are written in full at each occurrence, so a small graph
/// can make a message of exponential size; such inputs are left out.
inline constexpr std::size_t kMaxMessage = 1 << 17;

struct Expectation {
  enum class Result {
    Logged,     // `message` is logged
    Filtered,   // the category's priority drops the call: nothing runs
    Raised,     // a `__tostring` raised the value left on top of the stack
    CallError,  // a `__tostring` field that cannot be called: a Lua error text
    TooLarge,   // shared subtables would make a message over kMaxMessage: not run
  };
  Result result = Result::Logged;
  std::string message;
  std::vector<Span> contents;
  /// A `__tostring` gave no text: the message stops there, braces left open.
  bool cut = false;
};

/// Works out what `call` must do at a category whose priority is
/// `threshold`. For `Raised`, pushes the value the call must raise. Reads the
/// graph raw and calls no Lua code; the `__tostring` closures are read
/// through their upvalues.
Expectation expect_message(lua_State* L, const LogCall& call, lua_Integer threshold);

}  // namespace quelto::fuzz
