#pragma once
// The slot grid of the main window: default positions column by column, the
// scroll ranges that cover the slots, and the "Style.cs" file that keeps the
// operator's arrangement and the window bounds from one start to the next.
#include <optional>
#include <string>
#include <vector>

namespace qk {

struct SlotRect {
  int left = 0, top = 0, width = 0, height = 0;
  bool operator==(const SlotRect&) const = default;
};

// The slot template's delivered geometry and the scroll box's design height.
constexpr int kSlotPanelWidth = 249;
constexpr int kSlotPanelHeight = 65;
constexpr int kStyleScrollBoxHeight = 475;

// Rows of the default grid: box height div panel height (0 when either is not positive).
int SlotRows(int boxHeight, int panelHeight);
// Slot i's default place: down a column of `rows` slots, then the next column.
SlotRect DefaultSlotRect(int slot, int rows, int panelWidth, int panelHeight);

// A grid chosen for the view at hand rather than the template's box height.
struct SlotGrid {
  int rows = 0, columns = 0;
  int width = 0, height = 0;  // one slot
  bool fits = false;          // every slot lies inside the view
};
// Columns filled top to bottom as DefaultSlotRect does, with as many rows as
// the view's height takes at the slot's minimum height (spread evenly over the
// columns), and slots widened to share the view's width up to maxWidth. When
// even that grid is wider than the view, `fits` is false and the minimum size
// is kept (the view scrolls).
SlotGrid FitSlotGrid(int count, int viewWidth, int viewHeight, int minWidth, int minHeight, int maxWidth);
// Every rectangle lies inside a view of the given size.
bool RectsFitView(const std::vector<SlotRect>& rects, int viewWidth, int viewHeight);

// The scroll ranges grow to cover every slot placed so far.
struct ScrollRange {
  int width = 0, height = 0;
  void reset() { width = height = 0; }
  void cover(const SlotRect& r);
};

// "Left 8 Top 0 Width 249 Height 65"
std::string FormatSlotBounds(const SlotRect& r);
// The four numbers of four word/number pairs, in order; nullopt when the text
// does not hold them ("NULL", a damaged entry).
std::optional<SlotRect> ParseSlotBounds(const std::string& text);

struct StyleLayout {
  std::vector<std::optional<SlotRect>> slots;  // one per existing slot; unset: default grid
  SlotRect window{0, 0, 600, 600};             // section "Main"
};

// Reads "PortPanel0".."PortPanel<slotCount-1>" of section "Style" and the
// window bounds; keys of slots that do not exist are not read. nullopt when
// the file does not exist.
std::optional<StyleLayout> ReadStyleFile(const std::string& path, int slotCount);

struct NamedBounds {
  std::string name;  // "PortPanel<i>"
  SlotRect bounds;
};
// Erases section "Style", writes the given panels into it and the window
// bounds into "Main"; other sections stay as they were.
bool WriteStyleFile(const std::string& path, const std::vector<NamedBounds>& panels, const SlotRect& window);

}  // namespace qk
