// A small JSON reader for the tests that read back what a command prints for scripts: objects,
// arrays, strings (with escapes), numbers, true, false and null. Malformed text throws.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::test {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;

  [[nodiscard]] const JsonValue& operator[](const std::string& key) const {
    const auto it = members.find(key);
    if (kind != Kind::Object || it == members.end()) throw std::out_of_range("no member " + key);
    return it->second;
  }
  [[nodiscard]] bool IsNull() const { return kind == Kind::Null; }
};

class JsonReader {
 public:
  // The one value the whole text holds.
  static JsonValue Parse(std::string_view text) {
    JsonReader r(text);
    JsonValue v = r.Value();
    r.Blank();
    if (r.at_ != text.size()) r.Fail("text after the value");
    return v;
  }

 private:
  explicit JsonReader(std::string_view text) : s_(text) {}
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(at_));
  }
  void Blank() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  char Next() {
    if (at_ >= s_.size()) Fail("unexpected end");
    return s_[at_++];
  }
  void Expect(std::string_view word) {
    if (s_.substr(at_, word.size()) != word) Fail("expected " + std::string(word));
    at_ += word.size();
  }
  std::string String() {
    if (Next() != '"') Fail("expected a string");
    std::string out;
    for (;;) {
      const char c = Next();
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      switch (const char e = Next()) {
        case '"':
        case '\\':
        case '/': out += e; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          const unsigned code =
              static_cast<unsigned>(std::stoul(std::string(s_.substr(at_, 4)), nullptr, 16));
          at_ += 4;
          if (code >= 0x80) Fail("only ASCII escapes are read");
          out += static_cast<char>(code);
          break;
        }
        default: Fail("bad escape");
      }
    }
  }
  JsonValue Value() {
    Blank();
    JsonValue v;
    if (at_ >= s_.size()) Fail("unexpected end");
    const char c = s_[at_];
    if (c == '{') {
      v.kind = JsonValue::Kind::Object;
      ++at_;
      Blank();
      if (s_[at_] == '}') return ++at_, v;
      for (;;) {
        Blank();
        std::string key = String();
        Blank();
        if (Next() != ':') Fail("expected ':'");
        v.members[key] = Value();
        Blank();
        const char sep = Next();
        if (sep == '}') return v;
        if (sep != ',') Fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      v.kind = JsonValue::Kind::Array;
      ++at_;
      Blank();
      if (s_[at_] == ']') return ++at_, v;
      for (;;) {
        v.items.push_back(Value());
        Blank();
        const char sep = Next();
        if (sep == ']') return v;
        if (sep != ',') Fail("expected ',' or ']'");
      }
    }
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      v.text = String();
      return v;
    }
    if (c == 'n') return Expect("null"), v;
    if (c == 't' || c == 'f') {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = c == 't';
      Expect(v.boolean ? "true" : "false");
      return v;
    }
    const std::string rest(s_.substr(at_));
    char* end = nullptr;
    v.number = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str()) Fail("expected a value");
    v.kind = JsonValue::Kind::Number;
    at_ += static_cast<std::size_t>(end - rest.c_str());
    return v;
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

}  // namespace tarvex::test
