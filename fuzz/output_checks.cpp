#include "output_checks.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace quelto::fuzz {
namespace {

// Calls `visit(position)` for every position of `message` outside `contents`,
// which are in order and do not overlap.
template <class Visit>
void outside(const std::string& message, const std::vector<Span>& contents, Visit visit) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < message.size(); ++i) {
    while (next < contents.size() && contents[next].end <= i) ++next;
    if (next < contents.size() && contents[next].begin <= i) continue;
    visit(i);
  }
}

enum class Mark { Open, Done };

bool reaches_itself(lua_State* L, int index, std::map<const void*, Mark>& marks) {
  const void* self = lua_topointer(L, index);
  const auto found = marks.find(self);
  if (found != marks.end()) return found->second == Mark::Open;
  marks[self] = Mark::Open;
  lua_checkstack(L, 4);
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    if (lua_type(L, -1) == LUA_TTABLE && reaches_itself(L, lua_gettop(L), marks)) {
      lua_pop(L, 2);
      return true;
    }
    lua_pop(L, 1);
  }
  marks[self] = Mark::Done;
  return false;
}

// The length of the valid UTF-8 sequence at `i`, or 0.
std::size_t utf8_length(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t n = 0;
  unsigned long code = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, code = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3, code = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, code = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3F);
  }
  const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

// The line format writes every number so that it reads back, but NaN,
// which equals nothing it could be compared with.
bool exact_number(lua_State* L, int index) {
  const double value = lua_tonumber(L, index);
  return lua_isinteger(L, index) || value == value;
}

// True for the valid UTF-8 sequence of `n` bytes at `p` that must not come
// out raw: a C1 control, U+2028, U+2029, a bidirectional control.
bool unsafe_sequence(const unsigned char* p, std::size_t n) {
  if (n == 2) return p[0] == 0xC2 && p[1] < 0xA0;
  if (n != 3 || p[0] != 0xE2) return false;
  return (p[1] == 0x80 && p[2] >= 0xA8 && p[2] <= 0xAE) ||
         (p[1] == 0x81 && p[2] >= 0xA6 && p[2] <= 0xA9);
}

// A recursive-descent reader of JSON that says where it fails.
class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  std::string check() {
    if (peek() != '{') return "not an object";
    value(0);
    if (problem_.empty() && at_ != text_.size()) fail("text after the object");
    return problem_;
  }

 private:
  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool eat(char c) {
    if (peek() != c) return false;
    ++at_;
    return true;
  }
  void fail(const std::string& what) {
    if (problem_.empty()) problem_ = what + " at " + std::to_string(at_);
  }

  void value(int depth) {
    if (depth > 1000) return fail("nested too deep");
    switch (peek()) {
      case '{':
        ++at_;
        if (eat('}')) return;
        do {
          if (peek() != '"') return fail("a member name expected");
          string();
          if (!eat(':')) return fail("':' expected");
          value(depth + 1);
        } while (problem_.empty() && eat(','));
        if (problem_.empty() && !eat('}')) fail("'}' expected");
        return;
      case '[':
        ++at_;
        if (eat(']')) return;
        do value(depth + 1);
        while (problem_.empty() && eat(','));
        if (problem_.empty() && !eat(']')) fail("']' expected");
        return;
      case '"':
        return string();
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return number();
    }
  }
  void literal(const char* word) {
    const std::size_t size = std::strlen(word);
    if (text_.compare(at_, size, word) != 0) return fail("a value expected");
    at_ += size;
  }
  void digits() {
    if (!std::isdigit(static_cast<unsigned char>(peek()))) return fail("a digit expected");
    while (std::isdigit(static_cast<unsigned char>(peek()))) ++at_;
  }
  void number() {
    eat('-');
    if (!eat('0')) digits();
    if (eat('.')) digits();
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (!eat('+')) eat('-');
      digits();
    }
  }
  void string() {
    ++at_;  // the opening quote
    for (;;) {
      if (at_ >= text_.size()) return fail("a string never closes");
      const auto byte = static_cast<unsigned char>(text_[at_]);
      if (byte == '"') {
        ++at_;
        return;
      }
      if (byte == '\\') {
        const char kind = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
        if (std::strchr("\"\\/bfnrt", kind) != nullptr && kind != '\0') {
          at_ += 2;
        } else if (kind == 'u' && at_ + 6 <= text_.size() &&
                   std::all_of(text_.begin() + static_cast<long>(at_ + 2),
                               text_.begin() + static_cast<long>(at_ + 6), [](char c) {
                                 return std::isxdigit(static_cast<unsigned char>(c));
                               })) {
          at_ += 6;
        } else {
          return fail("a bad escape");
        }
      } else if (byte < 0x20 || byte == 0x7F) {
        return fail("a raw control byte");
      } else if (byte < 0x80) {
        ++at_;
      } else if (const std::size_t n = utf8_length(text_, at_); n != 0) {
        if (unsafe_sequence(reinterpret_cast<const unsigned char*>(&text_[at_]), n)) {
          return fail("a raw line separator, C1 or bidirectional control");
        }
        at_ += n;
      } else {
        return fail("invalid UTF-8");
      }
    }
  }

  const std::string& text_;
  std::size_t at_ = 0;
  std::string problem_;
};

bool exact_scalar(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING:
    case LUA_TBOOLEAN:
      return true;
    case LUA_TNUMBER:
      return exact_number(L, index);
    default:
      return false;
  }
}

bool reads_back(lua_State* L, int index, int depth, std::set<const void*>& open) {
  const void* self = lua_topointer(L, index);
  if (depth > 50 || open.count(self) != 0 || !lua_checkstack(L, 4)) return false;
  if (lua_getmetatable(L, index)) {
    lua_pop(L, 1);
    return false;
  }
  open.insert(self);
  lua_pushnil(L);
  while (lua_next(L, index) != 0) {
    const bool good = exact_scalar(L, -2) &&
                      (lua_type(L, -1) == LUA_TTABLE ? reads_back(L, lua_gettop(L), depth + 1, open)
                                                     : exact_scalar(L, -1));
    lua_pop(L, 1);
    if (!good) {
      lua_pop(L, 1);
      return false;
    }
  }
  open.erase(self);
  return true;
}

}  // namespace

std::string check_json(const std::string& text) {
  return JsonReader(text).check();
}

std::string check_one_line(const std::string& message) {
  for (std::size_t i = 0; i < message.size();) {
    const auto byte = static_cast<unsigned char>(message[i]);
    if (byte < 0x20 || byte == 0x7F) return "a raw control byte at " + std::to_string(i);
    if (byte < 0x80) {
      ++i;
    } else if (const std::size_t n = utf8_length(message, i); n != 0) {
      if (unsafe_sequence(reinterpret_cast<const unsigned char*>(&message[i]), n)) {
        return "a raw line separator, C1 or bidirectional control at " + std::to_string(i);
      }
      i += n;
    } else {
      return "invalid UTF-8 at " + std::to_string(i);
    }
  }
  return {};
}

std::string check_cut(const std::string& bounded, const std::string& whole, std::size_t max_bytes) {
  static const std::string kMarker = "<truncated>";
  if (whole.size() <= max_bytes) return bounded == whole ? "" : "cut although it fits";
  if (bounded.size() > max_bytes) return "longer than its bound";
  if (bounded.size() < kMarker.size() ||
      bounded.compare(bounded.size() - kMarker.size(), kMarker.size(), kMarker) != 0) {
    return "no cut marker";
  }
  const std::string kept = bounded.substr(0, bounded.size() - kMarker.size());
  if (whole.compare(0, kept.size(), kept) != 0) return "not a prefix of the whole message";
  // Every backslash of the line format starts an escape: \x takes 3 more bytes, the
  // others 1.
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (kept[i] != '\\') continue;
    const std::size_t length = i + 1 < kept.size() && kept[i + 1] == 'x' ? 4 : 2;
    if (i + length > kept.size()) return "an escape cut at " + std::to_string(i);
    i += length - 1;
  }
  return {};
}

bool reads_back(lua_State* L, int index) {
  std::set<const void*> open;
  return lua_type(L, index) == LUA_TTABLE && reads_back(L, lua_absindex(L, index), 0, open);
}

bool same_table(lua_State* L, int a, int b) {
  a = lua_absindex(L, a);
  b = lua_absindex(L, b);
  if (lua_type(L, a) != LUA_TTABLE || lua_type(L, b) != LUA_TTABLE) {
    return lua_compare(L, a, b, LUA_OPEQ);  // strings, booleans and numbers: no metamethods
  }
  lua_checkstack(L, 4);
  for (const auto& [from, to] : {std::pair{a, b}, std::pair{b, a}}) {
    lua_pushnil(L);
    while (lua_next(L, from) != 0) {
      lua_pushvalue(L, -2);
      lua_rawget(L, to);
      const bool same = from == a ? same_table(L, -2, -1) : !lua_isnil(L, -1);
      lua_pop(L, 2);
      if (!same) {
        lua_pop(L, 1);
        return false;
      }
    }
  }
  return true;
}

std::string check_balanced(const std::string& message, const std::vector<Span>& contents,
                           bool cut) {
  long depth = 0;
  long quotes = 0;
  std::string problem;
  outside(message, contents, [&](std::size_t i) {
    if (!problem.empty()) return;
    switch (message[i]) {
      case '{':
        ++depth;
        break;
      case '}':
        if (--depth < 0) problem = "a brace closes at " + std::to_string(i) + " that never opened";
        break;
      case '"':
        ++quotes;
        break;
      default:
        break;
    }
  });
  if (!problem.empty() || cut) return problem;
  if (depth != 0) return std::to_string(depth) + " braces left open";
  if (quotes % 2 != 0) return "an odd number of quotes (" + std::to_string(quotes) + ")";
  return {};
}

int count_cycle_markers(const std::string& message, const std::vector<Span>& contents) {
  static const std::string kMarker = "<cycle>";
  int count = 0;
  outside(message, contents, [&](std::size_t i) {
    if (message.compare(i, kMarker.size(), kMarker) == 0) ++count;
  });
  return count;
}

bool has_table_cycle(lua_State* L, const std::vector<int>& args) {
  std::map<const void*, Mark> marks;
  for (const int index : args) {
    if (lua_type(L, index) == LUA_TTABLE && reaches_itself(L, index, marks)) return true;
  }
  return false;
}

}  // namespace quelto::fuzz
