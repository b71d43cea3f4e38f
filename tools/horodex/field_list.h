// What `horodex show` prints: an ordered list of named fields, written as aligned text for a
// person or as one JSON object for scripts.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace Horodex {

class FieldList {
 public:
  // Texts are UTF-8.
  void text(std::string key, std::string label, std::string value);
  void number(std::string key, std::string label, std::int64_t value);
  void flag(std::string key, std::string label, bool value);
  // A value given as text (its lines aligned under the first) and as a JSON value of its own.
  void structured(std::string key, std::string label, std::string text, std::string json);

  void writeText(std::ostream& out) const;
  void writeJson(std::ostream& out) const;

 private:
  struct Field {
    std::string key;    // JSON member name
    std::string label;  // text label
    std::variant<std::string, std::int64_t, bool> value;
    std::string json = {};  // structured(): the JSON value; the text is in value
  };
  std::vector<Field> m_fields;
};

// JSON string literal of UTF-8 text, quotes included.
std::string JsonQuote(const std::string& text);

}  // namespace Horodex
