#include "app/SlotLayout.h"

#include <cstdio>
#include <sys/stat.h>

#include "config/IniFile.h"

namespace qk {

int SlotRows(int boxHeight, int panelHeight) {
  if (boxHeight <= 0 || panelHeight <= 0) return 0;
  return boxHeight / panelHeight;
}

SlotRect DefaultSlotRect(int slot, int rows, int panelWidth, int panelHeight) {
  if (rows <= 0) return {0, 0, panelWidth, panelHeight};
  return {(slot / rows) * panelWidth, (slot % rows) * panelHeight, panelWidth, panelHeight};
}

SlotGrid FitSlotGrid(int count, int viewWidth, int viewHeight, int minWidth, int minHeight, int maxWidth) {
  SlotGrid g;
  if (count <= 0 || minWidth <= 0 || minHeight <= 0) return g;
  const int rowsThatFit = viewHeight / minHeight;
  g.rows = rowsThatFit < 1 ? 1 : (rowsThatFit < count ? rowsThatFit : count);
  g.columns = (count + g.rows - 1) / g.rows;
  g.rows = (count + g.columns - 1) / g.columns;  // the last column no shorter than it must be
  g.height = minHeight;
  const int share = viewWidth > 0 ? viewWidth / g.columns : 0;
  g.width = share < minWidth ? minWidth : (share > maxWidth && maxWidth >= minWidth ? maxWidth : share);
  g.fits = g.rows * g.height <= viewHeight && g.columns * g.width <= viewWidth;
  return g;
}

bool RectsFitView(const std::vector<SlotRect>& rects, int viewWidth, int viewHeight) {
  for (const SlotRect& r : rects) {
    if (r.left < 0 || r.top < 0 || r.left + r.width > viewWidth || r.top + r.height > viewHeight) return false;
  }
  return true;
}

void ScrollRange::cover(const SlotRect& r) {
  if (r.left + r.width > width) width = r.left + r.width;
  if (r.top + r.height > height) height = r.top + r.height;
}

std::string FormatSlotBounds(const SlotRect& r) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "Left %d Top %d Width %d Height %d", r.left, r.top, r.width, r.height);
  return buf;
}

std::optional<SlotRect> ParseSlotBounds(const std::string& text) {
  SlotRect r;
  char w[4][16];
  if (std::sscanf(text.c_str(), "%15s %d %15s %d %15s %d %15s %d", w[0], &r.left, w[1], &r.top, w[2], &r.width,
                  w[3], &r.height) != 8) {
    return std::nullopt;
  }
  return r;
}

std::optional<StyleLayout> ReadStyleFile(const std::string& path, int slotCount) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  IniFile ini = IniFile::load(path);
  StyleLayout layout;
  for (int i = 0; i < slotCount; ++i) {
    const std::string value = ini.getString("Style", "PortPanel" + std::to_string(i), "NULL");
    layout.slots.push_back(value == "NULL" ? std::nullopt : ParseSlotBounds(value));
  }
  layout.window = {ini.getInt("Main", "Left", 0), ini.getInt("Main", "Top", 0), ini.getInt("Main", "Width", 600),
                   ini.getInt("Main", "Height", 600)};
  return layout;
}

bool WriteStyleFile(const std::string& path, const std::vector<NamedBounds>& panels, const SlotRect& window) {
  IniFile ini = IniFile::load(path);
  ini.eraseSection("Style");
  for (const auto& p : panels) ini.setString("Style", p.name, FormatSlotBounds(p.bounds));
  ini.setInt("Main", "Left", window.left);
  ini.setInt("Main", "Top", window.top);
  ini.setInt("Main", "Width", window.width);
  ini.setInt("Main", "Height", window.height);
  return ini.save(path);
}

}  // namespace qk
