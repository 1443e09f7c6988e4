#pragma once
// INI files read and written key by key: section and key names compared
// without case, a missing key or file yields the default, a write touches only
// its own line and keeps every other line, comment and the order. Saving writes
// a temporary file and renames it over the old one, so a crash never leaves a
// half-written profile behind.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qk {

class IniFile {
 public:
  IniFile() = default;
  // Reads the file; a missing or unreadable file gives an empty document.
  // Only regular files of sane size are read; `error` tells why another was not.
  static IniFile load(const std::string& path, std::string* error = nullptr);
  static IniFile parse(const std::string& text);

  bool loadedFromFile() const { return fromFile_; }

  bool hasSection(const std::string& section) const;
  bool hasKey(const std::string& section, const std::string& key) const;
  std::string getString(const std::string& section, const std::string& key, const std::string& def) const;
  // Decimal text with an optional sign; reading stops at the first non-digit
  // (no digits gives 0); values beyond 32 bits saturate. Missing key: def.
  std::int32_t getInt(const std::string& section, const std::string& key, std::int32_t def) const;
  // Keys of a section in file order (first spelling of each).
  std::vector<std::string> keys(const std::string& section) const;

  void setString(const std::string& section, const std::string& key, const std::string& value);
  void setInt(const std::string& section, const std::string& key, std::int64_t value);
  void eraseSection(const std::string& section);
  // Removes the key's line (its first occurrence); nothing when it is missing.
  void eraseKey(const std::string& section, const std::string& key);

  std::string text() const;
  // Atomic replace of `path` (temporary file in the same folder, then rename).
  // On failure `error` (when given) names the file and the reason.
  bool save(const std::string& path, std::string* error = nullptr) const;

 private:
  struct Entry {
    size_t line;      // index into lines_
    std::string key;  // as spelled in the file
  };
  struct Section {
    size_t header = 0;  // index of the [header] line
    size_t end = 0;     // one past the last line that belongs to it
    std::unordered_map<std::string, Entry> keys;  // lower-cased key -> first occurrence
    std::vector<std::string> order;               // lower-cased keys in file order
  };

  void reindex() const;
  const Section* findSection(const std::string& section) const;
  static bool splitKeyLine(const std::string& line, std::string& key, std::string& value);

  std::vector<std::string> lines_;
  std::string eol_ = "\n";
  bool bom_ = false;  // the file began with a UTF-8 byte-order mark
  bool fromFile_ = false;
  mutable bool dirty_ = true;
  mutable std::unordered_map<std::string, Section> sections_;
};

// Private-profile style one-shot access, for the few places that touch one key.
std::string readIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& def);
std::int32_t readIniInt(const std::string& path, const std::string& section, const std::string& key,
                        std::int32_t def);
bool writeIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

// Classic text-to-integer of the flash list and similar files: decimal, or hex
// with an "x"/"0x" prefix, sign allowed, trailing junk ignored.
std::int64_t parseIntAuto(const std::string& text);
std::string toLower(std::string s);

}  // namespace qk
