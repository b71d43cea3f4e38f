// The one writer of every command's report: an ordered list of named fields, written as aligned
// text for a person or as one JSON object for scripts.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "codec/corekit/datetime.h"

namespace Horodex {

class FieldList {
 public:
  // Texts are UTF-8. A field without a label is JSON's alone: the text leaves it out.
  void text(std::string key, std::string label, std::string value);
  void number(std::string key, std::string label, std::int64_t value);
  void flag(std::string key, std::string label, bool value);
  // A value given as text (its lines aligned under the first) and as a JSON value of its own.
  void structured(std::string key, std::string label, std::string text, std::string json);
  // A member of the JSON object alone, given as its JSON value.
  void jsonMember(std::string key, std::string json);
  // A value that is not there: "absent" for people, null in JSON.
  void absent(std::string key, std::string label);
  // A text, or absent when it is empty.
  void optionalText(std::string key, std::string label, std::string value);
  // A time: TimeText for people, RFC 3339 UTC in JSON.
  void time(std::string key, std::string label, const Velmora::CDateTime& time);
  // An algorithm by its dotted OID: "OID (name)" for people, {"oid": ..., "name": ...} in JSON
  // (the name null when the registry does not know the OID).
  void algorithm(std::string key, std::string label, const std::string& oid);
  // Members that every JSON object of this kind carries, so that scripts meet one shape: those
  // that no field gives are written null after the others. The text leaves them out.
  void alwaysInJson(std::vector<std::string> keys);

  void writeText(std::ostream& out) const;
  // One JSON object on one line, as every command writes it.
  void writeJson(std::ostream& out) const;
  void write(std::ostream& out, bool json) const;
  // The JSON object without the line's end: a member or an element of another.
  std::string json() const;

 private:
  struct Field {
    std::string key;    // JSON member name
    std::string label;  // text label
    std::variant<std::string, std::int64_t, bool> value;
    std::string json = {};  // structured(): the JSON value; the text is in value
  };
  std::vector<Field> m_fields;
  std::vector<std::string> m_jsonKeys;
};

// [a, b, ...] of JSON values.
std::string JsonArray(const std::vector<std::string>& values);
// JSON string literal of UTF-8 text, quotes included.
std::string JsonQuote(const std::string& text);
// The same, or null for empty text.
std::string JsonQuoteOrNull(const std::string& text);

// The name the registry gives a dotted OID ("sha256"); empty when it knows none.
std::string OidName(const std::string& oid);
// {"oid": "2.16.840.1.101.3.4.2.1", "name": "sha256"}; the name null when it is not known.
std::string JsonAlgorithm(const std::string& oid);

}  // namespace Horodex
