// The one reader of every command's arguments: options with a value ("--tsa URL"), options without
// one ("--json") and operands, and what a command says of an argument it does not take.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace Horodex {

// Which arguments are options; the others are operands.
enum class OptionForm {
  Dashed,      // "-x" and "--name"; "-" alone is an operand (standard input or output)
  AnyDash,     // every argument that begins with "-", "-" alone too
  DoubleDash,  // "--name" only; "-x" is an operand
};

// How a command words an argument it does not take; "{}" stands for the argument. Each complaint
// is "WHO: TEXT" on a line of its own followed by the usage; an empty text leaves the usage alone.
struct OptionWording {
  std::string unknownOption = "unknown option '{}'";
  std::string extraOperand = "unexpected argument '{}'";
  std::string missingValue = "{} needs a value";
  std::string usage = {};
  bool usageAfterMissingValue = true;
  OptionForm form = OptionForm::Dashed;
};

class OptionReader {
 public:
  // Takes a value, or refuses it (false) after saying why.
  using TakeValue = std::function<bool(const std::string&)>;

  OptionReader(std::string who, std::ostream& err, OptionWording wording = {});

  void flag(std::string name, bool& into, bool value = true);
  void flag(std::string name, std::function<void()> set);
  void value(std::string name, std::string& into);
  void value(std::string name, std::vector<std::string>& into);
  // `missing`, when given, is said in place of the wording's missingValue.
  void value(std::string name, TakeValue take, std::string missing = {});
  // Several of a kind at once.
  void flags(std::initializer_list<std::pair<const char*, bool*>> list);
  void values(std::initializer_list<std::pair<const char*, std::string*>> list);
  void values(std::initializer_list<std::pair<const char*, std::vector<std::string>*>> list);

  // The first operand fills `into` (and the next ones while it stays empty); one more is refused.
  void operand(std::string& into);
  void operands(std::vector<std::string>& into);
  void operand(TakeValue take);  // false: the extraOperand complaint

  // "WHO: TEXT" and, when `withUsage`, the usage.
  void complain(const std::string& text, bool withUsage = true) const;

  // Reads args[from...]; false after a complaint when one of them is not taken.
  bool read(const std::vector<std::string>& args, std::size_t from = 0) const;

  // The operands of `args`, the options and their values passed over and nothing said: what a
  // command line is about before it is read.
  std::vector<std::string> operandsOf(const std::vector<std::string>& args) const;

 private:
  struct Option {
    std::string name;
    std::function<void()> set;  // an option without a value
    TakeValue take;             // an option with one
    std::string missing;
  };
  bool isOption(const std::string& arg) const;
  const Option* find(const std::string& arg) const;

  std::string m_who;
  std::ostream& m_err;
  OptionWording m_wording;
  std::vector<Option> m_options;
  TakeValue m_operand;
};

}  // namespace Horodex
