// The one writer of every command's report: a field list as aligned text or as a JSON object.
#include "tools/horodex/field_list.h"

#include <algorithm>
#include <cstdio>

#include "platform/capi/wincrypt_oid.h"
#include "platform/text/convert.h"
#include "support/oid_info.h"
#include "tools/horodex/time_text.h"

namespace Horodex {

void FieldList::text(std::string key, std::string label, std::string value) {
  m_fields.push_back({std::move(key), std::move(label), std::move(value)});
}

void FieldList::number(std::string key, std::string label, std::int64_t value) {
  m_fields.push_back({std::move(key), std::move(label), value});
}

void FieldList::flag(std::string key, std::string label, bool value) {
  m_fields.push_back({std::move(key), std::move(label), value});
}

void FieldList::structured(std::string key, std::string label, std::string text, std::string json) {
  m_fields.push_back({std::move(key), std::move(label), std::move(text), std::move(json)});
}

void FieldList::jsonMember(std::string key, std::string json) {
  structured(std::move(key), "", "", std::move(json));
}

void FieldList::absent(std::string key, std::string label) {
  structured(std::move(key), std::move(label), "absent", "null");
}

void FieldList::optionalText(std::string key, std::string label, std::string value) {
  if (value.empty()) {
    absent(std::move(key), std::move(label));
  } else {
    text(std::move(key), std::move(label), std::move(value));
  }
}

void FieldList::time(std::string key, std::string label, const Velmora::CDateTime& time) {
  structured(std::move(key), std::move(label), TimeText(time), JsonQuote(JsonTime(time)));
}

void FieldList::algorithm(std::string key, std::string label, const std::string& oid) {
  const std::string name = OidName(oid);
  structured(std::move(key), std::move(label), name.empty() ? oid : oid + " (" + name + ")",
             JsonAlgorithm(oid));
}

void FieldList::alwaysInJson(std::vector<std::string> keys) {
  m_jsonKeys.insert(m_jsonKeys.end(), keys.begin(), keys.end());
}

namespace {

// Characters of UTF-8 text, for aligning columns.
std::size_t DisplayWidth(const std::string& text) {
  std::size_t width = 0;
  for (const char c : text) {
    width += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  }
  return width;
}

}  // namespace

void FieldList::writeText(std::ostream& out) const {
  std::size_t width = 0;
  for (const Field& f : m_fields) {
    width = std::max(width, DisplayWidth(f.label));
  }
  for (const Field& f : m_fields) {
    if (f.label.empty()) {
      continue;
    }
    out << f.label << ':' << std::string(width - DisplayWidth(f.label) + 2, ' ');
    if (const auto* s = std::get_if<std::string>(&f.value)) {
      for (const char c : *s) {
        out << c;
        if (c == '\n') {
          out << std::string(width + 3, ' ');
        }
      }
    } else if (const auto* n = std::get_if<std::int64_t>(&f.value)) {
      out << *n;
    } else {
      out << (std::get<bool>(f.value) ? "yes" : "no");
    }
    out << '\n';
  }
}

void FieldList::writeJson(std::ostream& out) const {
  out << json() << "\n";
}

void FieldList::write(std::ostream& out, bool json) const {
  json ? writeJson(out) : writeText(out);
}

std::string FieldList::json() const {
  std::string out = "{";
  for (const Field& f : m_fields) {
    out += (out.size() > 1 ? ", " : "") + JsonQuote(f.key) + ": ";
    if (!f.json.empty()) {
      out += f.json;
    } else if (const auto* s = std::get_if<std::string>(&f.value)) {
      out += JsonQuote(*s);
    } else if (const auto* n = std::get_if<std::int64_t>(&f.value)) {
      out += std::to_string(*n);
    } else {
      out += std::get<bool>(f.value) ? "true" : "false";
    }
  }
  for (const std::string& key : m_jsonKeys) {
    const bool given =
        std::any_of(m_fields.begin(), m_fields.end(), [&](const Field& f) { return f.key == key; });
    if (!given) {
      out += (out.size() > 1 ? ", " : "") + JsonQuote(key) + ": null";
    }
  }
  return out + "}";
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (const std::string& value : values) {
    out += (out.size() > 1 ? ", " : "") + value;
  }
  return out + "]";
}

std::string JsonQuoteOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonQuote(text);
}

std::string OidName(const std::string& oid) {
  namespace P = Velmora::Platform;
  const auto* info = Velmora::Support::FindOIDInfo(P::CRYPT_OID_INFO_OID_KEY, oid.c_str(), 0);
  return info != nullptr && info->pwszName != nullptr ? P::WideToUtf8(info->pwszName)
                                                      : std::string();
}

std::string JsonAlgorithm(const std::string& oid) {
  return "{\"oid\": " + JsonQuote(oid) + ", \"name\": " + JsonQuoteOrNull(OidName(oid)) + "}";
}

std::string JsonQuote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (u < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace Horodex
