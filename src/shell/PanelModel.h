#pragma once
// A panel without a GUI: the values and attributes of its controls, and a change signal.
// Core code changes models; the desktop app renders them and forwards user actions.
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace hylo {

using ControlValue = std::variant<std::monostate, std::int64_t, double, std::string>;

struct Control {
  ControlValue value;
  std::vector<std::string> items;  // list items, or the lines of a text box
  bool dimmed = false;
  bool visible = true;
  std::string label;
  std::string tooltip;
  std::uint64_t appended = 0;  // items ever appended, also those since dropped
};

class PanelModel {
 public:
  using Listener = std::function<void(const std::string& controlId)>;

  explicit PanelModel(std::string name) : name_(std::move(name)) {}
  PanelModel(const PanelModel&) = delete;
  PanelModel& operator=(const PanelModel&) = delete;

  const std::string& Name() const { return name_; }
  Control Get(std::string_view id) const;
  // Thread-safe; listeners run on the caller's thread, after the lock is released.
  void Set(std::string_view id, Control control);
  void SetValue(std::string_view id, ControlValue value);
  void SetDimmed(std::string_view id, bool dimmed);
  void SetVisible(std::string_view id, bool visible);
  void SetLabel(std::string_view id, std::string label);
  void SetTooltip(std::string_view id, std::string tooltip);
  void SetItems(std::string_view id, std::vector<std::string> items);
  // Keeps the newest kItemLimit lines (and up to a quarter more, so dropping the oldest
  // happens in batches rather than on every line).
  void AppendItem(std::string_view id, std::string item);
  // The items appended after the first `seen` (those still held), and `seen` moved on: a
  // view takes only what is new, never the whole list.
  std::vector<std::string> ItemsAfter(std::string_view id, std::uint64_t& seen) const;
  static constexpr std::size_t kItemLimit = 4000;

  std::string Text(std::string_view id) const;
  std::int64_t Int(std::string_view id, std::int64_t fallback = 0) const;

  int Subscribe(Listener listener);
  void Unsubscribe(int token);

 private:
  template <typename F>
  void Change(std::string_view id, F&& change);

  std::string name_;
  mutable std::mutex mutex_;
  std::map<std::string, Control, std::less<>> controls_;
  std::map<int, Listener> listeners_;
  int nextToken_ = 1;
};

}  // namespace hylo
