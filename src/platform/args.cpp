#include "platform/args.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/console.h"

namespace {

struct Item {
  std::vector<std::string> names; // the keyword and its aliases
  bool required = false;
  bool is_switch = false;
  bool keyword_only = false;
  bool number = false;
};

std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    parts.push_back(text.substr(start, at - start));
  parts.push_back(text.substr(start));
  return parts;
}

// "NAME=ALIAS/A/S" items, comma-separated.
std::vector<Item> parse_template(const char *template_text) {
  std::vector<Item> items;
  for (const std::string &item_text : split(template_text, ',')) {
    std::vector<std::string> parts = split(item_text, '/');
    Item item;
    item.names = split(parts[0], '=');
    for (size_t i = 1; i < parts.size(); ++i) {
      char modifier = parts[i].empty() ? 0 : static_cast<char>(toupper(parts[i][0]));
      item.required |= modifier == 'A';
      item.is_switch |= modifier == 'S';
      item.keyword_only |= modifier == 'K';
      item.number |= modifier == 'N';
    }
    items.push_back(item);
  }
  return items;
}

int find_item(const std::vector<Item> &items, const char *word, size_t length) {
  for (const Item &item : items)
    for (const std::string &name : item.names)
      if (name.size() == length && strncasecmp(name.c_str(), word, length) == 0)
        return static_cast<int>(&item - items.data());
  return -1;
}

struct Parse {
  std::vector<Item> items;
  std::vector<bool> given;
  std::vector<std::string> values; // per item, for text items
};

// A decimal number that fits a slot: digits, with a sign at most.
bool is_number(const std::string &text) {
  size_t digits = text.find_first_not_of("+-") == 1 ? 1 : 0;
  return text.size() > digits && text.size() - digits <= 9 &&
         text.find_first_not_of("0123456789", digits) == std::string::npos;
}

bool take_value(Parse &parse, int item, const std::string &value) {
  if (parse.given[item] || (parse.items[item].number && !is_number(value)))
    return false;
  parse.given[item] = true;
  parse.values[item] = value;
  return true;
}

bool take_positional(Parse &parse, const std::string &value) {
  for (size_t i = 0; i < parse.items.size(); ++i) {
    const Item &item = parse.items[i];
    if (!parse.given[i] && !item.is_switch && !item.keyword_only)
      return take_value(parse, static_cast<int>(i), value);
  }
  return false; // too many arguments
}

bool parse_tokens(Parse &parse, const std::vector<std::string> &tokens) {
  for (size_t t = 0; t < tokens.size(); ++t) {
    const std::string &token = tokens[t];
    size_t eq = token.find('=');
    int keyed = find_item(parse.items, token.c_str(), eq); // no name is npos long, nor empty
    if (keyed >= 0) {
      if (parse.items[keyed].is_switch ||
          !take_value(parse, keyed, token.substr(eq + 1)))
        return false;
      continue;
    }
    int item = find_item(parse.items, token.c_str(), token.size());
    if (item < 0) {
      if (!take_positional(parse, token))
        return false;
    } else if (parse.items[item].is_switch) {
      parse.given[item] = true;
    } else if (t + 1 >= tokens.size() || !take_value(parse, item, tokens[++t])) {
      return false; // keyword without its value, or given twice
    }
  }
  for (size_t i = 0; i < parse.items.size(); ++i)
    if (parse.items[i].required && !parse.given[i])
      return false;
  return true;
}

std::vector<std::string> prompt_for_line(const char *template_text) {
  Printf("%s: ", template_text);
  FlushOutput();
  std::string line;
  for (int c; (c = getchar()) != EOF && c != '\n';)
    line.push_back(static_cast<char>(c));
  return SplitArgLine(line);
}

} // namespace

std::vector<std::string> SplitArgLine(const std::string &line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == ' ' || line[i] == '\t') {
      ++i;
      continue;
    }
    std::string token;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
      if (line[i] != '"') {
        token.push_back(line[i++]);
        continue;
      }
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '*' || i + 1 >= line.size()) {
          token.push_back(line[i]);
          continue;
        }
        char escaped = line[++i];
        token.push_back(escaped == 'N' || escaped == 'n'   ? '\n'
                        : escaped == 'E' || escaped == 'e' ? '\x1b'
                                                           : escaped);
      }
      ++i; // the closing quote
    }
    tokens.push_back(token);
  }
  return tokens;
}

RDArgs *ReadArgs(const char *template_text, ArgSlot *slots, int argc,
                 const char *const *argv) {
  Parse parse;
  parse.items = parse_template(template_text);
  if (parse.items.size() > static_cast<size_t>(kMaxArgItems))
    return nullptr;
  parse.given.assign(parse.items.size(), false);
  parse.values.assign(parse.items.size(), std::string());

  std::vector<std::string> tokens(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (tokens.size() == 1 && tokens[0] == "?")
    tokens = prompt_for_line(template_text);
  if (!parse_tokens(parse, tokens))
    return nullptr;

  auto *args = new RDArgs;
  args->values = std::move(parse.values);
  for (size_t i = 0; i < parse.items.size(); ++i) {
    if (!parse.given[i])
      continue;
    if (parse.items[i].is_switch)
      slots[i].value = kSwitchOn;
    else
      slots[i].text = args->values[i].c_str();
    if (parse.items[i].number)
      slots[i].value = static_cast<int32_t>(strtol(slots[i].text, nullptr, 10));
  }
  return args;
}

void FreeArgs(RDArgs *args) { delete args; }

bool HandleStandardOption(int argc, const char *const *argv, const char *usage,
                          const char *template_text, const char *version) {
  if (argc != 2)
    return false;
  if (strcmp(argv[1], "--help") == 0)
    Printf(usage, template_text);
  else if (strcmp(argv[1], "--version") == 0)
    Printf("%s\n", version);
  else
    return false;
  return true;
}
