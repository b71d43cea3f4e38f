// The one reader of every command's arguments.
#include "tools/horodex/option_reader.h"

#include <utility>

namespace Horodex {

namespace {

// The wording's text with the argument in place of its "{}".
std::string Filled(const std::string& text, const std::string& arg) {
  const std::size_t at = text.find("{}");
  return at == std::string::npos ? text : text.substr(0, at) + arg + text.substr(at + 2);
}

}  // namespace

OptionReader::OptionReader(std::string who, std::ostream& err, OptionWording wording)
    : m_who(std::move(who)), m_err(err), m_wording(std::move(wording)) {}

void OptionReader::flag(std::string name, bool& into, bool value) {
  flag(std::move(name), [&into, value] { into = value; });
}

void OptionReader::flag(std::string name, std::function<void()> set) {
  m_options.push_back({std::move(name), std::move(set), nullptr, {}});
}

void OptionReader::value(std::string name, std::string& into) {
  value(std::move(name), [&into](const std::string& v) {
    into = v;
    return true;
  });
}

void OptionReader::value(std::string name, std::vector<std::string>& into) {
  value(std::move(name), [&into](const std::string& v) {
    into.push_back(v);
    return true;
  });
}

void OptionReader::value(std::string name, TakeValue take, std::string missing) {
  m_options.push_back({std::move(name), nullptr, std::move(take), std::move(missing)});
}

void OptionReader::flags(std::initializer_list<std::pair<const char*, bool*>> list) {
  for (const auto& [name, into] : list) {
    flag(name, *into);
  }
}

void OptionReader::values(std::initializer_list<std::pair<const char*, std::string*>> list) {
  for (const auto& [name, into] : list) {
    value(name, *into);
  }
}

void OptionReader::values(
    std::initializer_list<std::pair<const char*, std::vector<std::string>*>> list) {
  for (const auto& [name, into] : list) {
    value(name, *into);
  }
}

void OptionReader::operand(std::string& into) {
  operand([&into](const std::string& v) {
    if (!into.empty()) {
      return false;
    }
    into = v;
    return true;
  });
}

void OptionReader::operands(std::vector<std::string>& into) {
  operand([&into](const std::string& v) {
    into.push_back(v);
    return true;
  });
}

void OptionReader::operand(TakeValue take) {
  m_operand = std::move(take);
}

void OptionReader::complain(const std::string& text, bool withUsage) const {
  if (!text.empty()) {
    m_err << m_who << ": " << text << "\n";
  }
  if (withUsage) {
    m_err << m_wording.usage;
  }
}

bool OptionReader::isOption(const std::string& arg) const {
  switch (m_wording.form) {
    case OptionForm::Dashed:
      return arg.size() > 1 && arg[0] == '-';
    case OptionForm::AnyDash:
      return arg.starts_with("-");
    case OptionForm::DoubleDash:
      break;
  }
  return arg.starts_with("--");
}

const OptionReader::Option* OptionReader::find(const std::string& arg) const {
  for (const Option& option : m_options) {
    if (option.name == arg) {
      return &option;
    }
  }
  return nullptr;
}

bool OptionReader::read(const std::vector<std::string>& args, std::size_t from) const {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const Option* option = isOption(arg) ? find(arg) : nullptr;
    if (!isOption(arg)) {
      if (!m_operand || !m_operand(arg)) {
        complain(Filled(m_wording.extraOperand, arg));
        return false;
      }
    } else if (option == nullptr) {
      complain(Filled(m_wording.unknownOption, arg));
      return false;
    } else if (option->set) {
      option->set();
    } else if (i + 1 >= args.size()) {
      complain(option->missing.empty() ? Filled(m_wording.missingValue, arg) : option->missing,
               m_wording.usageAfterMissingValue);
      return false;
    } else if (!option->take(args[++i])) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> OptionReader::operandsOf(const std::vector<std::string>& args) const {
  std::vector<std::string> operands;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!isOption(args[i])) {
      operands.push_back(args[i]);
    } else if (const Option* option = find(args[i]); option != nullptr && option->take) {
      ++i;
    }
  }
  return operands;
}

}  // namespace Horodex
