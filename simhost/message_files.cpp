// The host's message and option file services: opnmsg, clsmsg, setmbk,
// rstmbk, the option readers stgopt, numopt, hexopt, ynopt, and gmdnam for
// module description files, over the parser of simhost/options.h.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "simhost/internal.h"
#include "simhost/options.h"

using namespace simhost;

struct HostMessageFile {
  ParsedOptions parsed;
  bool open = true;
  std::map<int, char*> handed;  // stgopt's texts, one per option
};

namespace {

// Every file opened since the host was reset. A closed file's object stays,
// so a handle kept by mistake is still recognised as closed, and the texts
// stgopt handed out live in `texts`, which is never shrunk while the host
// lives: a module may keep them for its whole life.
struct MessageFiles {
  std::vector<std::unique_ptr<HostMessageFile>> files;
  std::vector<HostMessageFile*> stack;  // back() is current; may hold null
  std::deque<std::string> texts;
  std::deque<std::string> names;  // gmdnam's answers
  FileOverride override;
};

MessageFiles& files() {
  static MessageFiles all;
  return all;
}

bool known(const HostMessageFile* file) {
  for (const auto& f : files().files) {
    if (f.get() == file) return true;
  }
  return false;
}

// The current file, or null with an option error naming the reader.
HostMessageFile* current(const char* reader, int n) {
  MessageFiles& all = files();
  HostMessageFile* file = all.stack.empty() ? nullptr : all.stack.back();
  if (file == nullptr) {
    optionError(std::string(reader) + "(" + std::to_string(n) + "): no message file is current");
  }
  return file;
}

char* keptText(const std::string& text) {
  files().texts.push_back(text);
  return files().texts.back().data();
}

std::int32_t deliver(const OptionValue& value) {
  if (!value.error.empty()) optionError(value.error);
  if (!value.warning.empty()) warning(value.warning);
  return value.number;
}

}  // namespace

namespace simhost {

void resetMessageFiles(const FileOverride& optionFile) {
  MessageFiles& all = files();
  all.stack.clear();
  all.files.clear();
  all.texts.clear();
  all.names.clear();
  all.override = optionFile;
}

const std::string* messageText(int n, std::string* label) {
  MessageFiles& all = files();
  HostMessageFile* file = all.stack.empty() ? nullptr : all.stack.back();
  if (file == nullptr) return nullptr;
  if (label != nullptr) *label = file->parsed.label;
  auto found = file->parsed.entries.find(n);
  if (found == file->parsed.entries.end() || found->second.broken) return nullptr;
  return &found->second.value;
}

}  // namespace simhost

extern "C" {

HostMessageFile* opnmsg(const char* name) {
  MessageFiles& all = files();
  auto file = std::make_unique<HostMessageFile>();
  if (name == nullptr) {
    file->parsed.label = "opnmsg";
    optionError("opnmsg: no file name given");
  } else {
    const bool overridden = !all.override.name.empty() && all.override.name == name;
    file->parsed = loadOptionFile(overridden ? all.override.path : name);
    for (const std::string& error : file->parsed.errors) optionError(error);
  }
  HostMessageFile* handle = file.get();
  all.files.push_back(std::move(file));
  all.stack.push_back(handle);
  return handle;
}

void clsmsg(HostMessageFile* file) {
  if (file == nullptr || !known(file) || !file->open) {
    warning("clsmsg: not an open message file");
    return;
  }
  file->open = false;
  auto& stack = files().stack;
  std::erase(stack, file);
}

void setmbk(HostMessageFile* file) {
  if (file == nullptr || !known(file) || !file->open) {
    warning("setmbk: not an open message file");
    file = nullptr;  // kept on the stack so rstmbk still pairs with it
  }
  files().stack.push_back(file);
}

void rstmbk() {
  auto& stack = files().stack;
  if (stack.empty()) {
    warning("rstmbk: no message file to restore");
    return;
  }
  stack.pop_back();
}

char* stgopt(int n) {
  HostMessageFile* file = current("stgopt", n);
  if (file == nullptr) return keptText("");
  auto handed = file->handed.find(n);
  if (handed != file->handed.end()) return handed->second;
  const OptionValue value = readTextOption(file->parsed, n);
  deliver(value);
  char* text = keptText(value.text);
  file->handed[n] = text;
  return text;
}

std::int32_t numopt(int n, std::int32_t min, std::int32_t max) {
  HostMessageFile* file = current("numopt", n);
  if (file == nullptr) return min;
  return deliver(readDecimalOption(file->parsed, n, min, max));
}

std::int32_t hexopt(int n, std::int32_t min, std::int32_t max) {
  HostMessageFile* file = current("hexopt", n);
  if (file == nullptr) return min;
  return deliver(readHexOption(file->parsed, n, min, max));
}

std::uint16_t ynopt(int n) {
  HostMessageFile* file = current("ynopt", n);
  if (file == nullptr) return 0;
  return static_cast<std::uint16_t>(deliver(readYesNoOption(file->parsed, n)));
}

const char* gmdnam(const char* mdfFile) {
  if (mdfFile == nullptr) {
    warning("gmdnam: no file name given");
    return "";
  }
  std::string why, refused;
  std::string name = readModuleName(mdfFile, &why, &refused);
  if (!why.empty()) warning(why);
  if (!refused.empty()) optionError(refused);
  files().names.push_back(std::move(name));
  return files().names.back().c_str();
}

}  // extern "C"
