#include "pattern_layout.h"

#include <charconv>
#include <cstdint>
#include <ctime>
#include <log4cpp/Configurator.hh>
#include <log4cpp/LoggingEvent.hh>
#include <log4cpp/Priority.hh>
#include <log4cpp/TimeStamp.hh>
#include <sstream>
#include <utility>

#include "date_format.h"

namespace quelto::backend {

struct FastPatternLayout::Piece {
  enum class Kind : unsigned char {
    Literal,
    Message,        // %m
    Category,       // %c
    Date,           // %d
    Priority,       // %p
    Ndc,            // %x
    Thread,         // %t
    SinceStart,     // %r: milliseconds since log4cpp's start
    Seconds,        // %R: seconds since the epoch
    ProcessorTime,  // %u: clock()
  };
  Kind kind = Kind::Literal;
  bool left = false;   // justified left: filled on the right
  int precision = -1;  // %c: the last `precision` components of the name; -1 for all
  std::size_t min_width = 0;
  std::size_t max_width = 0;  // 0 for none
  std::string text;           // a literal's bytes
  std::unique_ptr<const DateFormat> date;
};

namespace {

using Piece = FastPatternLayout::Piece;
using Kind = Piece::Kind;

// log4cpp's walk back over the dots of the name, step for step (including
// what it does with empty components); it stops once a step changes nothing,
// where log4cpp would go on to `precision` steps for the same result.
void append_category(std::string& out, const std::string& name, int precision) {
  if (precision == -1) {
    out += name;
    return;
  }
  std::size_t begin = std::string::npos;
  for (int i = 0; i < precision; ++i) {
    const std::size_t dot = name.rfind('.', begin - 2);
    if (dot == std::string::npos) {
      begin = 0;
      break;
    }
    if (dot + 1 == begin) break;
    begin = dot + 1;
  }
  if (begin == std::string::npos) begin = 0;
  out.append(name, begin, std::string::npos);
}

template <typename Integer>
void append_integer(std::string& out, Integer value) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void append_piece(std::string& out, const Piece& piece, const log4cpp::LoggingEvent& event) {
  switch (piece.kind) {
    case Kind::Literal:
      out += piece.text;
      return;
    case Kind::Message:
      out += event.message;
      return;
    case Kind::Category:
      append_category(out, event.categoryName, piece.precision);
      return;
    case Kind::Date:
      piece.date->append(out, event.timeStamp);
      return;
    case Kind::Priority:
      out += log4cpp::Priority::getPriorityName(event.priority);
      return;
    case Kind::Ndc:
      out += event.ndc;
      return;
    case Kind::Thread:
      out += event.threadName;
      return;
    case Kind::SinceStart: {
      const log4cpp::TimeStamp& start = log4cpp::TimeStamp::getStartTime();
      std::int64_t since = std::int64_t{event.timeStamp.getSeconds()} - start.getSeconds();
      since = since * 1000 + (event.timeStamp.getMilliSeconds() - start.getMilliSeconds());
      append_integer(out, since);
      return;
    }
    case Kind::Seconds:
      append_integer(out, event.timeStamp.getSeconds());
      return;
    case Kind::ProcessorTime:
      append_integer(out, std::clock());
      return;
  }
}

// Cuts the piece's text (from `start` to the end of `out`) to its maximum
// width, then fills it up to its minimum: bytes, as log4cpp counts.
void fit(std::string& out, std::size_t start, const Piece& piece) {
  std::size_t size = out.size() - start;
  if (piece.max_width > 0 && piece.max_width < size) {
    out.resize(start + piece.max_width);
    size = piece.max_width;
  }
  if (piece.min_width <= size) return;
  if (piece.left) {
    out.append(piece.min_width - size, ' ');
  } else {
    out.insert(start, piece.min_width - size, ' ');
  }
}

// The piece that conversion character `c` makes, with the text between the
// braces that followed it; a Literal piece for none.
Piece conversion(char c, const std::string& braced) {
  Piece piece;
  switch (c) {
    case 'm':
      piece.kind = Kind::Message;
      break;
    case 'c':
      piece.kind = Kind::Category;
      if (!braced.empty()) {
        std::istringstream number(braced);
        number >> piece.precision;  // 0 (the whole name) if it is no number
      }
      break;
    case 'd':
      piece.kind = Kind::Date;
      piece.date = std::make_unique<const DateFormat>(braced);
      break;
    case 'p':
      piece.kind = Kind::Priority;
      break;
    case 'r':
      piece.kind = Kind::SinceStart;
      break;
    case 'R':
      piece.kind = Kind::Seconds;
      break;
    case 't':
      piece.kind = Kind::Thread;
      break;
    case 'u':
      piece.kind = Kind::ProcessorTime;
      break;
    case 'x':
      piece.kind = Kind::Ndc;
      break;
    default:
      break;
  }
  return piece;
}

[[noreturn]] void refuse(const std::string& what, const std::string& pattern,
                         std::istringstream& in) {
  std::ostringstream text;
  text << what << " in '" << pattern << "' at index " << in.tellg();
  throw log4cpp::ConfigureFailure(text.str());
}

}  // namespace

FastPatternLayout::FastPatternLayout() {
  setConversionPattern(DEFAULT_CONVERSION_PATTERN);
}

FastPatternLayout::~FastPatternLayout() = default;

std::string FastPatternLayout::format(const log4cpp::LoggingEvent& event) {
  std::string out;
  out.reserve(fixed_bytes_ + messages_ * event.message.size() +
              categories_ * event.categoryName.size() +
              others_ * (event.ndc.size() + event.threadName.size()));
  for (const Piece& piece : pieces_) {
    const std::size_t start = out.size();
    append_piece(out, piece, event);
    if (piece.min_width != 0 || piece.max_width != 0) fit(out, start, piece);
  }
  return out;
}

// The reading is log4cpp's, on the same stream operations, so that what a
// number is, where a pattern ends too soon and which index an error names
// come out the same: '%', then an optional minimum width (a '-' for the
// left) and '.' with a maximum width, the conversion character, and an
// optional "{...}" after it. A width is kept until a piece takes it: "%5%%m"
// fills the message to 5. Literal text is collected until a piece follows.
void FastPatternLayout::setConversionPattern(const std::string& pattern) {
  clearConversionPattern();
  std::istringstream in(pattern);
  std::string literal;
  int min_width = 0;
  std::size_t max_width = 0;
  char c;
  while (in.get(c)) {
    if (c != '%') {
      literal += c;
      continue;
    }
    char next = '\0';
    in.get(next);
    if (next == '-' || (next >= '0' && next <= '9')) {
      in.putback(next);
      in >> min_width;
      in.get(next);
    }
    if (next == '.') {
      in >> max_width;
      in.get(next);
    }
    if (!in) refuse("unterminated conversion specifier", pattern, in);
    std::string braced;
    char brace;
    if (in.get(brace)) {
      if (brace == '{') {
        while (in.get(brace) && brace != '}') braced += brace;
      } else {
        in.putback(brace);
      }
    }
    if (next == '%') {
      literal += '%';
      continue;
    }
    if (next == 'n') {
      literal += '\n';
      continue;
    }
    Piece piece = conversion(next, braced);
    if (piece.kind == Kind::Literal) {
      refuse(std::string("unknown conversion specifier '") + next + "'", pattern, in);
    }
    if (min_width != 0 || max_width != 0) {
      // log4cpp takes the magnitude with std::abs; INT_MIN's is 2^31 here.
      const long long width = min_width;
      piece.min_width = static_cast<std::size_t>(width < 0 ? -width : width);
      piece.max_width = max_width;
      piece.left = min_width < 0;
      min_width = 0;
      max_width = 0;
    }
    add(std::move(piece), literal);
  }
  if (!literal.empty()) add(Piece{}, literal);
  pattern_ = pattern;
}

// Appends `piece`, after the literal text collected before it; a Literal
// piece is that text alone.
void FastPatternLayout::add(Piece&& piece, std::string& literal) {
  if (!literal.empty()) {
    Piece text;
    text.text = std::move(literal);
    literal.clear();
    fixed_bytes_ += text.text.size();
    pieces_.push_back(std::move(text));
  }
  if (piece.kind == Kind::Literal) return;
  switch (piece.kind) {
    case Kind::Message:
      ++messages_;
      break;
    case Kind::Category:
      ++categories_;
      break;
    case Kind::Ndc:
    case Kind::Thread:
      ++others_;
      break;
    default:
      fixed_bytes_ += 24;
      break;  // a number, a priority name, a time
  }
  // Room for a fill, not for the absurd ones.
  fixed_bytes_ += piece.min_width < 256 ? piece.min_width : 0;
  pieces_.push_back(std::move(piece));
}

std::string FastPatternLayout::getConversionPattern() const {
  return pattern_;
}

void FastPatternLayout::clearConversionPattern() {
  pieces_.clear();
  pattern_.clear();
  fixed_bytes_ = messages_ = categories_ = others_ = 0;
}

}  // namespace quelto::backend
