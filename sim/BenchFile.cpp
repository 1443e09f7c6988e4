// Reading and checking a bench file.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "config/IniFile.h"
#include "platform/BoundedRead.h"
#include "sim/BenchConfig.h"
#include "sim/ParseUtil.h"

namespace qk::sim {

namespace {

struct SectionName {
  std::string kind;  // "bench", "events", "feed", "hub", "drive", "device"
  int number = 0;
  std::string spelled;
};

// "Hub12" -> {"hub", 12}; a plain name -> number 0.
std::optional<SectionName> classify(const std::string& name) {
  std::string lower = toLower(name);
  if (lower == "bench" || lower == "events" || lower == "feed") return SectionName{lower, 0, name};
  for (const char* kind : {"hub", "drive", "device"}) {
    std::string k = kind;
    if (lower.size() > k.size() && lower.compare(0, k.size(), k) == 0) {
      std::string digits = lower.substr(k.size());
      if (digits[0] == '0' || digits.size() > 6) return std::nullopt;
      if (!std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
      return SectionName{k, std::stoi(digits), name};
    }
  }
  return std::nullopt;
}

std::string canonical(const std::string& kind, int number) {
  std::string k = kind;
  k[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(k[0])));
  return k + std::to_string(number);
}

class Reader {
 public:
  Reader(const IniFile& ini, std::string label) : ini_(ini), label_(std::move(label)) {}

  bool fail(const std::string& section, const std::string& key, const std::string& message) {
    error_ = label_ + ": [" + section + "]" + (key.empty() ? "" : " " + key) + ": " + message;
    return false;
  }
  const std::string& error() const { return error_; }

  // A value with a trailing "; comment" removed; quotes keep blanks and semicolons.
  std::optional<std::string> value(const std::string& section, const std::string& key) const {
    if (!ini_.hasKey(section, key)) return std::nullopt;
    std::string v = ini_.getString(section, key, "");
    if (!v.empty() && (v[0] == '"' || v[0] == '\'')) {
      auto close = v.find(v[0], 1);
      if (close != std::string::npos) return v.substr(1, close - 1);
    }
    for (size_t i = 0; i < v.size(); ++i) {
      if (v[i] == ';' && (i == 0 || v[i - 1] == ' ' || v[i - 1] == '\t')) return trimText(v.substr(0, i));
    }
    return v;
  }

  bool integer(const std::string& section, const std::string& key, std::int64_t lo, std::int64_t hi,
               std::int64_t& out, bool required) {
    auto v = value(section, key);
    if (!v) return required ? fail(section, key, "missing") : true;
    auto n = parseInteger(*v);
    if (!n || *n < lo || *n > hi) {
      return fail(section, key, "\"" + *v + "\" is not a number from " + std::to_string(lo) + " to " +
                                    std::to_string(hi));
    }
    out = *n;
    return true;
  }

  // "HubK:P" -> hub K, port P (existence is checked later).
  bool hubPort(const std::string& section, const std::string& key, int& hub, int& port) {
    auto v = value(section, key);
    if (!v) return fail(section, key, "missing");
    auto colon = v->find(':');
    auto name = classify(trimText(v->substr(0, colon)));
    std::optional<std::int64_t> p;
    if (colon != std::string::npos) p = parseInteger(v->substr(colon + 1));
    if (!name || name->kind != "hub" || !p || *p < 1 || *p > 255) {
      return fail(section, key, "\"" + *v + "\" is not HubK:P");
    }
    hub = name->number;
    port = static_cast<int>(*p);
    return true;
  }

  std::vector<std::string> keys(const std::string& section) const { return ini_.keys(section); }
  bool onlyKnownKeys(const std::string& section, std::initializer_list<const char*> known, bool faults) {
    for (const auto& key : ini_.keys(section)) {
      std::string k = toLower(key);
      bool ok = std::any_of(known.begin(), known.end(), [&](const char* n) { return k == toLower(n); });
      if (!ok && faults && k.rfind("fault", 0) == 0) ok = true;
      if (!ok) return fail(section, key, "unknown key");
    }
    return true;
  }

 private:
  const IniFile& ini_;
  std::string label_;
  std::string error_;
};

// Every line must be blank, a comment, a section header or a key line inside a section.
bool checkLines(const std::string& text, const std::string& label, std::vector<SectionName>& sections,
                std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool inSection = false;
  std::set<std::string> seen;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = trimText(line);
    auto where = label + ": line " + std::to_string(number) + ": ";
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      auto close = t.find(']');
      if (close == std::string::npos) {
        error = where + "unterminated section header";
        return false;
      }
      std::string name = trimText(t.substr(1, close - 1));
      auto cls = classify(name);
      if (!cls) {
        error = where + "unknown section [" + name + "] (expected Bench, Events, Feed, HubN, DriveN or DeviceN)";
        return false;
      }
      if (!seen.insert(toLower(name)).second) {
        error = where + "section [" + name + "] appears twice";
        return false;
      }
      sections.push_back(*cls);
      inSection = true;
      continue;
    }
    auto eq = t.find('=');
    if (eq == std::string::npos || eq == 0) {
      error = where + "not a section, key or comment";
      return false;
    }
    if (!inSection) {
      error = where + "key outside a section";
      return false;
    }
  }
  return true;
}

bool parseDriveKeys(Reader& r, const std::string& sec, const std::string& baseDir,
                    const BenchParseOptions& options, DriveSpec& d, const IniFile& ini) {
  if (!r.onlyKnownKeys(sec, {"At", "Token", "Flash", "Channel", "Bank", "State", "Temperature", "UsbSerial",
                             "VendorId", "ProductId", "Sectors", "Store", "Plugged", "Persist", "FactoryBad", "Speed"},
                       true)) {
    return false;
  }
  if (!r.hubPort(sec, "At", d.hub, d.port)) return false;
  if (auto t = r.value(sec, "Token")) {
    if (!t->empty() && t->size() != 4) return r.fail(sec, "Token", "\"" + *t + "\" is not 4 characters");
    if (!std::all_of(t->begin(), t->end(), [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
      return r.fail(sec, "Token", "not printable text");
    d.token = *t;
  }
  auto flash = r.value(sec, "Flash");
  if (!flash || flash->empty()) return r.fail(sec, "Flash", "missing");
  if (options.flashKnown && !options.flashKnown(*flash))
    return r.fail(sec, "Flash", "\"" + *flash + "\" is not in the flash list");
  d.flash = *flash;
  std::int64_t n = d.channel;
  if (!r.integer(sec, "Channel", 1, 8, n, false)) return false;
  d.channel = static_cast<int>(n);
  n = d.bank;
  if (!r.integer(sec, "Bank", 1, 8, n, false)) return false;
  d.bank = static_cast<int>(n);
  if (auto s = r.value(sec, "State")) {
    std::string state = toLower(*s);
    if (state == "blank") d.state = DriveState::Blank;
    else if (state == "formatted") d.state = DriveState::Formatted;
    else if (state == "ready") d.state = DriveState::Ready;
    else return r.fail(sec, "State", "\"" + *s + "\" is not a known state (blank, formatted, ready)");
  }
  n = d.temperature;
  if (!r.integer(sec, "Temperature", 0, 255, n, false)) return false;
  d.temperature = static_cast<int>(n);
  d.usbSerial = r.value(sec, "UsbSerial").value_or("");
  n = d.vendorId;
  if (!r.integer(sec, "VendorId", 0, 0xFFFF, n, false)) return false;
  d.vendorId = static_cast<std::uint16_t>(n);
  n = d.productId;
  if (!r.integer(sec, "ProductId", 0, 0xFFFF, n, false)) return false;
  d.productId = static_cast<std::uint16_t>(n);
  n = d.sectors;
  if (!r.integer(sec, "Sectors", 1, 0xFFFFFFFFLL, n, false)) return false;
  d.sectors = static_cast<std::uint32_t>(n);
  if (auto s = r.value(sec, "Store"); s && !s->empty()) d.storePath = (*s)[0] == '/' ? *s : baseDir + *s;
  if (auto s = r.value(sec, "Persist"); s && !s->empty()) d.persistPath = (*s)[0] == '/' ? *s : baseDir + *s;
  if (auto s = r.value(sec, "FactoryBad")) {
    for (const auto& part : splitList(*s)) {
      FactoryBadBlock b;
      auto c1 = part.find(':');
      auto c2 = c1 == std::string::npos ? c1 : part.find(':', c1 + 1);
      std::optional<std::int64_t> ch, slot, block;
      if (c2 != std::string::npos) {
        ch = parseInteger(part.substr(0, c1));
        slot = parseInteger(part.substr(c1 + 1, c2 - c1 - 1));
        block = parseInteger(part.substr(c2 + 1));
      }
      if (!ch || !slot || !block || *ch < 0 || *ch >= d.channel || *slot < 0 || *slot >= d.bank || *block < 0 ||
          *block > 0xFFFF)
        return r.fail(sec, "FactoryBad", "\"" + part + "\" is not ch:slot:block of this drive's channels and banks");
      b.channel = static_cast<int>(*ch);
      b.slot = static_cast<int>(*slot);
      b.block = static_cast<std::uint32_t>(*block);
      d.factoryBad.push_back(b);
    }
  }
  n = 1;
  if (!r.integer(sec, "Plugged", 0, 1, n, false)) return false;
  d.plugged = n == 1;
  if (auto v = r.value(sec, "Speed")) {
    auto f = parseReal(*v);
    if (!f || *f < 0 || *f > 100000) return r.fail(sec, "Speed", "\"" + *v + "\" is not MB/s from 0 to 100000");
    d.speedMBps = *f;
  }
  for (const auto& key : ini.keys(sec)) {
    if (toLower(key).rfind("fault", 0) != 0) continue;
    std::string why;
    if (!d.faults.set(key, r.value(sec, key).value_or(""), why)) return r.fail(sec, key, why);
  }
  return true;
}

// [Feed]: the templates name drive sections; those drives are templates only
// and never sit on the line themselves.
bool parseFeed(Reader& r, const std::vector<SectionName>& sections, BenchConfig& cfg) {
  auto feed = std::find_if(sections.begin(), sections.end(), [](const SectionName& s) { return s.kind == "feed"; });
  if (feed == sections.end()) return true;
  const std::string& sec = feed->spelled;
  std::int64_t n = 0;
  if (!r.integer(sec, "Drives", 1, 100000, n, true)) return false;
  cfg.feed.drives = static_cast<int>(n);
  n = 0;
  if (!r.integer(sec, "Swap", 0, 86400000, n, false)) return false;
  cfg.feed.swapMs = n;
  std::map<int, std::string> templates;
  for (const auto& key : r.keys(sec)) {
    const std::string lower = toLower(key);
    if (lower == "drives" || lower == "swap") continue;
    auto number = lower.rfind("template", 0) == 0 ? parseInteger(lower.substr(8)) : std::nullopt;
    if (!number || *number < 1) return r.fail(sec, key, "unknown key");
    auto cls = classify(r.value(sec, key).value_or(""));
    auto drive = cls && cls->kind == "drive"
                     ? std::find_if(cfg.drives.begin(), cfg.drives.end(), [&](auto& d) { return d.number == cls->number; })
                     : cfg.drives.end();
    if (drive == cfg.drives.end()) return r.fail(sec, key, "not a DriveN section");
    drive->plugged = false;
    templates[static_cast<int>(*number)] = drive->name;
  }
  if (templates.empty()) return r.fail(sec, "Template1", "missing");
  for (auto& [k, name] : templates) cfg.feed.templates.push_back(name);
  return true;
}

}  // namespace

bool ParseBenchText(const std::string& text, const std::string& baseDirIn, const BenchParseOptions& options,
                    BenchConfig& out, std::string& error) {
  const std::string label = out.file.empty() ? std::string("bench file") : out.file;
  std::string baseDir = baseDirIn.empty() ? "./" : baseDirIn;
  if (baseDir.back() != '/') baseDir += '/';
  BenchConfig cfg;
  cfg.file = out.file;
  std::vector<SectionName> sections;
  if (!checkLines(text, label, sections, error)) return false;
  IniFile ini = IniFile::parse(text);
  Reader r(ini, label);

  for (const auto& s : sections) {
    const std::string& sec = s.spelled;
    if (s.kind == "bench") {
      if (!r.onlyKnownKeys(sec, {"TimeScale", "Trace"}, false)) return error = r.error(), false;
      if (auto v = r.value(sec, "TimeScale")) {
        auto f = parseReal(*v);
        if (!f || *f < 0 || *f > 1000) return error = label + ": [" + sec + "] TimeScale: \"" + *v +
                                                      "\" is not a factor from 0 to 1000", false;
        cfg.timeScale = *f;
      }
      if (auto v = r.value(sec, "Trace"); v && !v->empty()) cfg.tracePath = (*v)[0] == '/' ? *v : baseDir + *v;
    } else if (s.kind == "hub") {
      if (!r.onlyKnownKeys(sec, {"Parent", "Kind", "Ports"}, false)) return error = r.error(), false;
      HubSpec h;
      h.number = s.number;
      auto parent = r.value(sec, "Parent");
      if (!parent) return r.fail(sec, "Parent", "missing"), error = r.error(), false;
      if (toLower(*parent) != "root" && !r.hubPort(sec, "Parent", h.parentHub, h.parentPort))
        return error = r.error(), false;
      auto kind = r.value(sec, "Kind");
      if (!kind && h.parentHub == 0) return r.fail(sec, "Kind", "missing (usb1, usb2, usb3 or vendor)"),
                                     error = r.error(), false;
      if (kind) {
        std::string k = toLower(*kind);
        if (k == "usb1") h.kind = HubKind::Usb1;
        else if (k == "usb2") h.kind = HubKind::Usb2;
        else if (k == "usb3") h.kind = HubKind::Usb3;
        else if (k == "vendor") h.kind = HubKind::Vendor;
        else return r.fail(sec, "Kind", "\"" + *kind + "\" is not usb1, usb2, usb3 or vendor"), error = r.error(),
                    false;
      }
      std::int64_t ports = 0;
      if (!r.integer(sec, "Ports", 1, 255, ports, true)) return error = r.error(), false;
      h.ports = static_cast<int>(ports);
      cfg.hubs.push_back(h);
    } else if (s.kind == "drive") {
      DriveSpec d;
      d.number = s.number;
      d.name = canonical("drive", s.number);
      if (!parseDriveKeys(r, sec, baseDir, options, d, ini)) return error = r.error(), false;
      cfg.drives.push_back(std::move(d));
    } else if (s.kind == "device") {
      if (!r.onlyKnownKeys(sec, {"At", "UsbSerial", "VendorId", "ProductId", "Plugged"}, false))
        return error = r.error(), false;
      DeviceSpec d;
      d.number = s.number;
      d.name = canonical("device", s.number);
      if (!r.hubPort(sec, "At", d.hub, d.port)) return error = r.error(), false;
      d.usbSerial = r.value(sec, "UsbSerial").value_or("");
      std::int64_t n = d.vendorId;
      if (!r.integer(sec, "VendorId", 0, 0xFFFF, n, false)) return error = r.error(), false;
      d.vendorId = static_cast<std::uint16_t>(n);
      n = d.productId;
      if (!r.integer(sec, "ProductId", 0, 0xFFFF, n, false)) return error = r.error(), false;
      d.productId = static_cast<std::uint16_t>(n);
      n = 1;
      if (!r.integer(sec, "Plugged", 0, 1, n, false)) return error = r.error(), false;
      d.plugged = n == 1;
      cfg.devices.push_back(std::move(d));
    }
  }
  if (cfg.hubs.empty()) return error = label + ": no [HubN] section: the bench needs at least one hub", false;
  if (!parseFeed(r, sections, cfg)) return error = r.error(), false;

  auto byNumber = [](const auto& a, const auto& b) { return a.number < b.number; };
  std::sort(cfg.hubs.begin(), cfg.hubs.end(), byNumber);
  std::sort(cfg.drives.begin(), cfg.drives.end(), byNumber);
  std::sort(cfg.devices.begin(), cfg.devices.end(), byNumber);

  // Topology: every reference names an existing hub and port, one thing per port, no hub loops.
  std::map<int, const HubSpec*> hubs;
  for (const auto& h : cfg.hubs) hubs[h.number] = &h;
  std::map<std::pair<int, int>, std::string> occupied;
  // A drive that starts unplugged may share its port: it stands for a drive
  // swapped in later (only one of them can be plugged at a time).
  auto place = [&](const std::string& who, const char* key, int hub, int port, bool exclusive = true) {
    auto it = hubs.find(hub);
    if (it == hubs.end()) return r.fail(who, key, "no section [Hub" + std::to_string(hub) + "]");
    if (port > it->second->ports)
      return r.fail(who, key, "Hub" + std::to_string(hub) + " has only " + std::to_string(it->second->ports) +
                                  " ports");
    if (!exclusive) return true;
    auto [slot, fresh] = occupied.emplace(std::make_pair(hub, port), who);
    if (!fresh) return r.fail(who, key, "port already taken by " + slot->second);
    return true;
  };
  for (const auto& h : cfg.hubs) {
    if (h.parentHub == 0) continue;
    if (!place(canonical("hub", h.number), "Parent", h.parentHub, h.parentPort)) return error = r.error(), false;
    std::set<int> chain{h.number};
    for (int up = h.parentHub; up != 0; up = hubs.count(up) ? hubs[up]->parentHub : 0) {
      if (!chain.insert(up).second) {
        return r.fail(canonical("hub", h.number), "Parent", "hubs hang on each other in a loop"),
               error = r.error(), false;
      }
    }
  }
  for (const auto& d : cfg.drives) {
    if (!place(d.name, "At", d.hub, d.port, d.plugged)) return error = r.error(), false;
  }
  for (const auto& d : cfg.devices) {
    if (!place(d.name, "At", d.hub, d.port)) return error = r.error(), false;
  }

  // Events: "plug Name" or "unplug Name", several per time separated by commas.
  for (const auto& s : sections) {
    if (s.kind != "events") continue;
    for (const auto& key : ini.keys(s.spelled)) {
      auto at = parseInteger(key);
      if (!at || *at < 0) return r.fail(s.spelled, key, "the key must be a time in milliseconds"),
                          error = r.error(), false;
      for (const auto& action : splitList(r.value(s.spelled, key).value_or(""))) {
        auto blank = action.find(' ');
        std::string verb = toLower(action.substr(0, blank));
        std::string target = blank == std::string::npos ? "" : trimText(action.substr(blank + 1));
        auto cls = classify(target);
        bool known = false;
        if (cls && cls->kind == "drive")
          known = std::any_of(cfg.drives.begin(), cfg.drives.end(), [&](auto& d) { return d.number == cls->number; });
        if (cls && cls->kind == "device")
          known =
              std::any_of(cfg.devices.begin(), cfg.devices.end(), [&](auto& d) { return d.number == cls->number; });
        if ((verb != "plug" && verb != "unplug") || !known) {
          return r.fail(s.spelled, key, "\"" + action + "\" is not plug or unplug of a DriveN or DeviceN section"),
                 error = r.error(), false;
        }
        cfg.events.push_back({*at, verb == "plug", canonical(cls->kind, cls->number)});
      }
    }
  }
  std::stable_sort(cfg.events.begin(), cfg.events.end(),
                   [](const EventSpec& a, const EventSpec& b) { return a.atMs < b.atMs; });
  out = std::move(cfg);
  return true;
}

bool ParseBenchFile(const std::string& path, const BenchParseOptions& options, BenchConfig& out,
                    std::string& error) {
  std::string text, why;
  if (ReadBoundedFile(path, text, &why) != ReadOutcome::Ok) {
    error = why + ": cannot read the bench file";
    return false;
  }
  auto slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
  out = BenchConfig{};
  out.file = path;
  return ParseBenchText(text, dir, options, out, error);
}

}  // namespace qk::sim
