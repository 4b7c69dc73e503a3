// The little JSON the console speaks: strings escaped for an answer, and
// a request body read strictly as one flat object of string values.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>

namespace board {

// TEXT as a JSON string, quotes included; bytes that are not valid UTF-8
// become U+FFFD, so an answer is always valid JSON.
std::string jsonString(std::string_view text);

// A body that must be {"name": "value", ...} with exactly the NAMES, each
// once, no other member and nothing after it. `error` says what is wrong.
struct JsonFields {
  std::map<std::string, std::string> values;
  std::string error;
};
JsonFields readJsonFields(std::string_view body, const std::set<std::string>& names);

}  // namespace board
