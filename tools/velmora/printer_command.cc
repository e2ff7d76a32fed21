// velmora printer: administer the printers of the printer store, their data values, their
// paper models and the machine-wide logging switch.
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/text.h"
#include "platform/paper_model_text.h"
#include "platform/printer_admin.h"
#include "platform/text_encoding.h"
#include "tools/velmora/commands.h"
#include "tools/velmora/file_io.h"
#include "tools/velmora/printer_values.h"
#include "tools/velmora/quoting.h"

namespace velmora::cli {
namespace {

using platform::NamedValue;
using platform::PaperModel;
using platform::PrinterAdmin;
using platform::PrinterValue;
using platform::StoreResult;

constexpr const char* kLoggingSwitch = "EnableLogging";

WString W(std::string_view text) { return platform::Utf8ToUtf16(text); }

// The value of a store result, or its message as the command's error.
template <typename T>
T Must(StoreResult<T> result) {
  if (!result) throw CommandError(result.error());
  return std::move(result.value());
}

// The options every printer subcommand shares.
struct Options {
  bool verbose = false;
  bool system = false;
  std::string name;
  std::string modelFile;
  std::string type;
  std::vector<std::string> arguments;
  std::string loggingState;
};

std::unique_ptr<PrinterAdmin> OpenStore(const Options& options) {
  if (options.system && !platform::UseSystemFolder()) throw CommandError("Unable to use the system printer store");
  std::unique_ptr<PrinterAdmin> store = platform::OpenPrinterAdmin();
  if (options.verbose) std::cerr << "velmora: " << store->location() << "\n";
  return store;
}

// Reads and checks a paper-model file; a UTF-8 byte-order mark at its start is skipped.
PaperModel LoadModel(const std::string& path) {
  const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::string error;
  std::optional<PaperModel> model = platform::ParsePaperModel(text, &error);
  if (!model) throw CommandError("paper model " + Quoted(path) + ": " + error);
  return *model;
}

// The printer's name as the store spells it, found ignoring ASCII case.
std::string StoredName(PrinterAdmin& store, const std::string& name) {
  for (const WString& stored : Must(store.ListPrinters())) {
    if (text::EqualsNoCase(platform::Utf16ToUtf8(stored), name)) return platform::Utf16ToUtf8(stored);
  }
  return name;
}

void RunAdd(const Options& options) {
  // The model is checked before the printer exists, so a bad model adds nothing.
  std::optional<PaperModel> model;
  if (!options.modelFile.empty()) model = LoadModel(options.modelFile);
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  Must(store.AddPrinter(W(options.name)));
  if (!model) return;
  StoreResult<> stored =
      store.SetPrinterValue(W(options.name), platform::kPaperModelValueName, platform::PaperModelValue(*model));
  if (stored) return;
  // A printer without the model it was added with would print on the wrong paper sizes.
  store.RemovePrinter(W(options.name));
  throw CommandError(stored.error() + "; printer " + Quoted(options.name) + " was not added");
}

void RunList(const Options& options) {
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  const std::vector<WString> names = Must(store.ListPrinters());
  std::cout << "Printers in " << store.location() << ":" << (names.empty() ? " none" : "") << "\n";
  for (const WString& name : names) std::cout << platform::Utf16ToUtf8(name) << "\n";
}

void RunShow(const Options& options) {
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  const std::vector<NamedValue> values = Must(store.ListPrinterData(W(options.name)));
  std::cout << "printer: " << Printable(StoredName(store, options.name), false) << "\n";
  std::cout << "store: " << store.path() << "\n";
  std::cout << "values:" << (values.empty() ? " none" : "") << "\n";
  const PrinterValue* modelValue = nullptr;
  for (const auto& [wideName, value] : values) {
    const std::string name = platform::Utf16ToUtf8(wideName);
    std::cout << "  " << Printable(name, false) << " (" << TypeName(value) << "): ";
    if (IsPaperModelValue(name)) {
      modelValue = &value;
      std::cout << "the paper model below\n";
      continue;
    }
    std::cout << DescribeValue(value) << "\n";
  }

  // The model shown is the one the printer's device figures use.
  const PaperModel* model = &platform::GenericPaperModel();
  std::optional<PaperModel> stored;
  std::string heading = "paper model (generic; none stored):";
  if (modelValue != nullptr) {
    std::string error;
    stored = platform::PaperModelFromValue(*modelValue, &error);
    if (stored) {
      model = &*stored;
      heading = "paper model (stored):";
    } else {
      heading = "paper model (generic; the stored one is malformed: " + error + "):";
    }
  }
  std::cout << heading << "\n";
  const std::string text = platform::FormatPaperModel(*model);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    std::cout << "  " << text.substr(start, end - start) << "\n";
    start = end + 1;
  }
}

// One value to set: its name and the data given for it, in command-line order.
struct Assignment {
  std::string name;
  std::vector<std::string> pieces;
};

// Groups NAME=DATA arguments by value name (ignoring ASCII case), in first-seen order.
std::vector<Assignment> ReadAssignments(const std::vector<std::string>& arguments) {
  std::vector<Assignment> assignments;
  for (const auto& argument : arguments) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0) {
      throw CommandError("'" + argument + "' is not of the form VALUE=DATA");
    }
    const std::string name = argument.substr(0, equals);
    std::string data = argument.substr(equals + 1);
    auto known = std::find_if(assignments.begin(), assignments.end(),
                              [&name](const Assignment& a) { return text::EqualsNoCase(a.name, name); });
    if (known == assignments.end()) {
      assignments.push_back({name, {std::move(data)}});
    } else {
      known->pieces.push_back(std::move(data));
    }
  }
  return assignments;
}

// The kind a value is written with: its well-known kind, or the one --type names.
ValueKind KindFor(const std::string& valueName, const std::optional<ValueKind>& typed) {
  if (IsPaperModelValue(valueName)) {
    throw CommandError("value " + Quoted(valueName) + " holds the paper model; set it with --model FILE");
  }
  const std::optional<ValueKind> known = KnownValueKind(valueName);
  if (known && typed && *typed != *known) {
    throw CommandError("value " + Quoted(valueName) + " has type " + KindName(*known) + "; --type " + KindName(*typed) +
                       " does not fit");
  }
  if (known) return *known;
  if (typed) return *typed;
  throw CommandError("value " + Quoted(valueName) +
                     " is not one the plug-in reads; give its type with --type text|multi-text|number|binary");
}

void RunSet(const Options& options) {
  // Everything is checked before anything is written.
  std::vector<std::pair<std::string, PrinterValue>> writes;
  try {
    if (options.arguments.empty() && options.modelFile.empty()) {
      throw CommandError("nothing to set: give VALUE=DATA or --model FILE");
    }
    std::optional<ValueKind> typed;
    if (!options.type.empty()) typed = KindFromName(options.type);
    for (const Assignment& assignment : ReadAssignments(options.arguments)) {
      writes.emplace_back(assignment.name,
                          EncodeValue(assignment.name, KindFor(assignment.name, typed), assignment.pieces));
    }
    if (!options.modelFile.empty()) {
      writes.emplace_back(platform::Utf16ToUtf8(platform::kPaperModelValueName),
                          platform::PaperModelValue(LoadModel(options.modelFile)));
    }
  } catch (const CommandError& error) {
    throw CommandError(std::string(error.what()) + "; printer " + Quoted(options.name) + " is unchanged");
  }
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  for (const auto& [name, value] : writes) Must(store.SetPrinterValue(W(options.name), W(name), value));
}

void RunUnset(const Options& options) {
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  const std::vector<NamedValue> values = Must(store.ListPrinterData(W(options.name)));
  // Every value must exist before any is removed.
  for (const auto& name : options.arguments) {
    const bool present = std::any_of(values.begin(), values.end(), [&name](const NamedValue& v) {
      return text::EqualsNoCase(platform::Utf16ToUtf8(v.first), name);
    });
    if (!present) {
      throw CommandError("printer " + Quoted(options.name) + " has no value " + Quoted(name) + "; nothing was removed");
    }
  }
  for (const auto& name : options.arguments) Must(store.RemovePrinterValue(W(options.name), W(name)));
}

void RunRemove(const Options& options) { Must(OpenStore(options)->RemovePrinter(W(options.name))); }

void ShowLogging(PrinterAdmin& store) {
  const std::optional<PrinterValue> value = Must(store.ReadMachineValue(W(kLoggingSwitch)));
  std::cout << kLoggingSwitch << ": ";
  // The plug-in reads the value's four bytes only, whatever its type: 1 is on.
  if (!value) {
    std::cout << "not set (off)";
  } else if (value->bytes == std::vector<std::uint8_t>{1, 0, 0, 0}) {
    std::cout << "on";
  } else if (value->bytes == std::vector<std::uint8_t>{0, 0, 0, 0}) {
    std::cout << "off";
  } else {
    std::cout << "off (stored as " << TypeName(*value) << " " << DescribeValue(*value)
              << "; only the 4-byte number 1 turns logging on)";
  }
  std::cout << "\nstore: " << store.path() << "\n";
  if (const char* over = std::getenv("VELMORA_ENABLELOGGING"); over != nullptr) {
    std::cout << "VELMORA_ENABLELOGGING=" << Printable(over, false)
              << " overrides the store in every process that has it in its environment\n";
  }
}

void RunLogging(const Options& options) {
  const std::unique_ptr<PrinterAdmin> admin = OpenStore(options);
  PrinterAdmin& store = *admin;
  const std::string& state = options.loggingState;
  if (state.empty()) return ShowLogging(store);
  if (state == "unset") {
    if (!Must(store.ReadMachineValue(W(kLoggingSwitch)))) return;
    Must(store.RemoveMachineValue(W(kLoggingSwitch)));
    return;
  }
  const std::uint8_t on = state == "on" ? 1 : 0;
  Must(store.SetMachineValue(W(kLoggingSwitch), PrinterValue{platform::ValueType::kDword, {on, 0, 0, 0}}));
}

CLI::App* AddCommand(CLI::App* printer, const char* name, const char* help, std::function<void()> run) {
  CLI::App* command = printer->add_subcommand(name, help);
  command->fallthrough();  // --verbose may follow the subcommand
  command->callback(std::move(run));
  return command;
}

}  // namespace

void RegisterPrinterCommand(CLI::App& app) {
  // The options live as long as the commands that are parsed into them and read them.
  auto options = std::make_shared<Options>();
  CLI::App* printer = app.add_subcommand(
      "printer",
      "Administer the printer store ($VELMORA_STORE, else $XDG_STATE_HOME/velmora/spooler.db): printers, their "
      "data values and paper models, and the machine-wide logging switch");
  printer->require_subcommand(1);
  printer->add_flag("-v,--verbose", options->verbose, "Name the printer store on standard error");
  if (const std::optional<std::string> system = platform::SystemFolder()) {
    printer->add_flag("--system", options->system,
                      "Administer the system printer store, which the CUPS filter reads (" + *system +
                          "/spooler.db), instead of $VELMORA_STORE");
  }

  CLI::App* add =
      AddCommand(printer, "add", "Add a printer, optionally with its paper model", [options] { RunAdd(*options); });
  add->add_option("NAME", options->name, "The printer's name")->required();
  add->add_option("--model", options->modelFile, "A paper-model file (see docs/paper-model.md)");

  AddCommand(printer, "list", "List the printers, after a line naming the store", [options] { RunList(*options); });

  CLI::App* show = AddCommand(printer, "show",
                              "Show a printer's values with their types, and the paper model its device figures use",
                              [options] { RunShow(*options); });
  show->add_option("NAME", options->name, "The printer's name")->required();

  CLI::App* set = AddCommand(
      printer, "set",
      "Set data values (VALUE=DATA) and/or the paper model (--model FILE). Known values take their own type: "
      "OvelayDirectory text, OvelayFiles text (entries separated by ';'), UserAuthentication number, ModuleName "
      "multi-text (one name, "
      "stored as 260 bytes); any other value needs --type. Multi-text entries are separated by commas (\\, for a "
      "comma inside one) or given by repeating VALUE=DATA. Numbers are decimal or 0x hex; binary is hex bytes",
      [options] { RunSet(*options); });
  set->add_option("NAME", options->name, "The printer's name")->required();
  set->add_option("ASSIGNMENT", options->arguments, "VALUE=DATA");
  set->add_option("--type", options->type,
                  "The type of every VALUE in this command; needed for values the plug-in does not read")
      ->check(CLI::IsMember({"text", "multi-text", "number", "binary"}));
  set->add_option("--model", options->modelFile, "A paper-model file, checked before anything is stored");

  CLI::App* unset = AddCommand(printer, "unset", "Remove data values of a printer", [options] { RunUnset(*options); });
  unset->add_option("NAME", options->name, "The printer's name")->required();
  unset->add_option("VALUE", options->arguments, "Value names")->required();

  CLI::App* remove = AddCommand(printer, "remove", "Remove a printer with its values and its jobs",
                                [options] { RunRemove(*options); });
  remove->add_option("NAME", options->name, "The printer's name")->required();

  CLI::App* logging = AddCommand(
      printer, "logging",
      "Show or set the machine-wide switch EnableLogging (for all printers): on stores 1, off stores 0, unset "
      "removes it (off). VELMORA_ENABLELOGGING=1 turns logging on for one process regardless",
      [options] { RunLogging(*options); });
  logging->add_option("STATE", options->loggingState, "on, off or unset; nothing: show it")
      ->check(CLI::IsMember({"on", "off", "unset"}));
}

}  // namespace velmora::cli
