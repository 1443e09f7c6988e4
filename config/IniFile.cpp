#include "config/IniFile.h"

#include "platform/AtomicWrite.h"
#include "platform/BoundedRead.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string_view>

namespace qk {

namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

// "[name]" -> name; false for any other line.
bool sectionName(const std::string& line, std::string& name) {
  std::string t = trim(line);
  if (t.size() < 2 || t[0] != '[') return false;
  auto close = t.find(']');
  if (close == std::string::npos) return false;
  name = trim(t.substr(1, close - 1));
  return true;
}

// Values never carry line breaks or NULs into the file.
std::string cleanValue(const std::string& v) {
  std::string out;
  out.reserve(v.size());
  for (char c : v) {
    if (c == '\0') break;
    out += (c == '\r' || c == '\n') ? ' ' : c;
  }
  return out;
}

}  // namespace

std::string toLower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

IniFile IniFile::parse(const std::string& input) {
  IniFile ini;
  // A UTF-8 byte-order mark is no part of the first line; kept for the save.
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  ini.bom_ = input.compare(0, kBom.size(), kBom) == 0;
  const std::string text = ini.bom_ ? input.substr(kBom.size()) : input;
  auto firstNl = text.find('\n');
  if (firstNl != std::string::npos && firstNl > 0 && text[firstNl - 1] == '\r') ini.eol_ = "\r\n";
  size_t pos = 0;
  while (pos < text.size()) {
    auto nl = text.find('\n', pos);
    std::string line = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines_.push_back(std::move(line));
    if (nl == std::string::npos) break;
    pos = nl + 1;
  }
  return ini;
}

IniFile IniFile::load(const std::string& path, std::string* error) {
  std::string text, why;
  switch (ReadBoundedFile(path, text, &why)) {
    case ReadOutcome::Ok:
      break;
    case ReadOutcome::Missing:
      return IniFile{};
    case ReadOutcome::Refused:
      std::cerr << "INI load: " << why << std::endl;
      if (error) *error = why;
      return IniFile{};
  }
  IniFile ini = parse(text);
  ini.fromFile_ = true;
  return ini;
}

bool IniFile::splitKeyLine(const std::string& line, std::string& key, std::string& value) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = trim(line.substr(0, eq));
  if (key.empty() || key[0] == ';' || key[0] == '[') return false;
  value = trim(line.substr(eq + 1));
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (auto nul = value.find('\0'); nul != std::string::npos) value.resize(nul);
  return true;
}

void IniFile::reindex() const {
  if (!dirty_) return;
  sections_.clear();
  Section* current = nullptr;
  for (size_t i = 0; i < lines_.size(); ++i) {
    std::string name;
    if (sectionName(lines_[i], name)) {
      auto lname = toLower(name);
      if (sections_.count(lname)) {
        current = nullptr;  // a repeated section: the first one wins
        // Keys of the repeated section stay invisible, as with the classic reader.
        continue;
      }
      current = &sections_[lname];
      current->header = i;
      current->end = i + 1;
      continue;
    }
    if (!current) continue;
    std::string key, value;
    if (splitKeyLine(lines_[i], key, value)) {
      auto lkey = toLower(key);
      if (!current->keys.count(lkey)) {
        current->keys[lkey] = Entry{i, key};
        current->order.push_back(lkey);
      }
    }
    if (!trim(lines_[i]).empty()) current->end = i + 1;
  }
  dirty_ = false;
}

const IniFile::Section* IniFile::findSection(const std::string& section) const {
  reindex();
  auto it = sections_.find(toLower(section));
  return it == sections_.end() ? nullptr : &it->second;
}

bool IniFile::hasSection(const std::string& section) const { return findSection(section) != nullptr; }

bool IniFile::hasKey(const std::string& section, const std::string& key) const {
  const Section* s = findSection(section);
  return s && s->keys.count(toLower(key));
}

std::string IniFile::getString(const std::string& section, const std::string& key, const std::string& def) const {
  const Section* s = findSection(section);
  if (!s) return def;
  auto it = s->keys.find(toLower(key));
  if (it == s->keys.end()) return def;
  std::string k, v;
  splitKeyLine(lines_[it->second.line], k, v);
  return v;
}

std::int32_t IniFile::getInt(const std::string& section, const std::string& key, std::int32_t def) const {
  if (!hasKey(section, key)) return def;
  std::string v = getString(section, key, "");
  size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || v[i] == '\t')) ++i;
  bool neg = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) neg = v[i++] == '-';
  std::int64_t n = 0;
  for (; i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])); ++i) {
    n = n * 10 + (v[i] - '0');
    if (n > static_cast<std::int64_t>(INT32_MAX) + 1) n = static_cast<std::int64_t>(INT32_MAX) + 1;
  }
  if (neg) n = -n;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(n, INT32_MIN, INT32_MAX));
}

std::vector<std::string> IniFile::keys(const std::string& section) const {
  std::vector<std::string> out;
  const Section* s = findSection(section);
  if (!s) return out;
  for (const auto& lkey : s->order) out.push_back(s->keys.at(lkey).key);
  return out;
}

void IniFile::setString(const std::string& section, const std::string& key, const std::string& value) {
  std::string v = cleanValue(value);
  std::string k = cleanValue(key);
  const Section* s = findSection(section);
  if (!s) {
    // A new section goes at the end, after a blank line when the file has content.
    if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.push_back("");
    lines_.push_back("[" + cleanValue(section) + "]");
    lines_.push_back(k + "=" + v);
    dirty_ = true;
    return;
  }
  auto it = s->keys.find(toLower(k));
  if (it != s->keys.end()) {
    lines_[it->second.line] = it->second.key + "=" + v;
  } else {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(s->end), k + "=" + v);
  }
  dirty_ = true;
}

void IniFile::setInt(const std::string& section, const std::string& key, std::int64_t value) {
  setString(section, key, std::to_string(value));
}

void IniFile::eraseKey(const std::string& section, const std::string& key) {
  const Section* s = findSection(section);
  if (!s) return;
  auto it = s->keys.find(toLower(key));
  if (it == s->keys.end()) return;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(it->second.line));
  dirty_ = true;
}

void IniFile::eraseSection(const std::string& section) {
  const Section* s = findSection(section);
  if (!s) return;
  // Up to the next section header (blank lines and comments of the section go too).
  size_t end = s->header + 1;
  std::string name;
  while (end < lines_.size() && !sectionName(lines_[end], name)) ++end;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(s->header),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
  dirty_ = true;
}

std::string IniFile::text() const {
  std::string out = bom_ ? "\xEF\xBB\xBF" : "";
  for (const auto& l : lines_) {
    out += l;
    out += eol_;
  }
  return out;
}

bool IniFile::save(const std::string& path, std::string* error) const {
  std::string reason;
  if (writeFileAtomic(path, text(), &reason)) return true;
  std::cerr << "INI save: " << reason << std::endl;
  if (error) *error = reason;
  return false;
}

std::string readIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def) {
  return IniFile::load(path).getString(section, key, def);
}

std::int32_t readIniInt(const std::string& path, const std::string& section, const std::string& key,
                        std::int32_t def) {
  return IniFile::load(path).getInt(section, key, def);
}

bool writeIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  IniFile ini = IniFile::load(path);
  ini.setString(section, key, value);
  return ini.save(path);
}

std::int64_t parseIntAuto(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) neg = text[i++] == '-';
  int base = 10;
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    i += 1;
  }
  std::int64_t n = 0;
  for (; i < text.size(); ++i) {
    int d;
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isdigit(c)) d = c - '0';
    else if (base == 16 && std::isxdigit(c)) d = std::tolower(c) - 'a' + 10;
    else break;
    if (n < (INT64_MAX - d) / base) n = n * base + d;
  }
  return neg ? -n : n;
}

}  // namespace qk
