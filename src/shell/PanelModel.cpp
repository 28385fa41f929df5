#include "shell/PanelModel.h"

#include <algorithm>

namespace hylo {

Control PanelModel::Get(std::string_view id) const {
  std::lock_guard guard(mutex_);
  auto it = controls_.find(id);
  return it == controls_.end() ? Control{} : it->second;
}

template <typename F>
void PanelModel::Change(std::string_view id, F&& change) {
  std::vector<Listener> listeners;
  std::string key(id);
  {
    std::lock_guard guard(mutex_);
    change(controls_[key]);
    for (const auto& [token, listener] : listeners_) listeners.push_back(listener);
  }
  for (const auto& listener : listeners) listener(key);
}

void PanelModel::Set(std::string_view id, Control control) {
  Change(id, [&](Control& c) { c = std::move(control); });
}
void PanelModel::SetValue(std::string_view id, ControlValue value) {
  Change(id, [&](Control& c) { c.value = std::move(value); });
}
void PanelModel::SetDimmed(std::string_view id, bool dimmed) {
  Change(id, [&](Control& c) { c.dimmed = dimmed; });
}
void PanelModel::SetVisible(std::string_view id, bool visible) {
  Change(id, [&](Control& c) { c.visible = visible; });
}
void PanelModel::SetLabel(std::string_view id, std::string label) {
  Change(id, [&](Control& c) { c.label = std::move(label); });
}
void PanelModel::SetTooltip(std::string_view id, std::string tooltip) {
  Change(id, [&](Control& c) { c.tooltip = std::move(tooltip); });
}
void PanelModel::SetItems(std::string_view id, std::vector<std::string> items) {
  Change(id, [&](Control& c) { c.items = std::move(items); });
}
void PanelModel::AppendItem(std::string_view id, std::string item) {
  Change(id, [&](Control& c) {
    c.items.push_back(std::move(item));
    ++c.appended;
    if (c.items.size() > kItemLimit + kItemLimit / 4)
      c.items.erase(c.items.begin(), c.items.begin() + static_cast<std::ptrdiff_t>(c.items.size() - kItemLimit));
  });
}

std::vector<std::string> PanelModel::ItemsAfter(std::string_view id, std::uint64_t& seen) const {
  std::lock_guard guard(mutex_);
  auto it = controls_.find(id);
  if (it == controls_.end()) return {};
  const Control& c = it->second;
  const std::uint64_t firstHeld = c.appended - std::min<std::uint64_t>(c.appended, c.items.size());
  const std::uint64_t from = std::max(seen, firstHeld);
  seen = c.appended;
  if (from >= c.appended) return {};
  return {c.items.begin() + static_cast<std::ptrdiff_t>(from - firstHeld), c.items.end()};
}

std::string PanelModel::Text(std::string_view id) const {
  const Control c = Get(id);
  if (const auto* s = std::get_if<std::string>(&c.value)) return *s;
  return {};
}

std::int64_t PanelModel::Int(std::string_view id, std::int64_t fallback) const {
  const Control c = Get(id);
  if (const auto* i = std::get_if<std::int64_t>(&c.value)) return *i;
  if (const auto* d = std::get_if<double>(&c.value)) return static_cast<std::int64_t>(*d);
  return fallback;
}

int PanelModel::Subscribe(Listener listener) {
  std::lock_guard guard(mutex_);
  const int token = nextToken_++;
  listeners_.emplace(token, std::move(listener));
  return token;
}

void PanelModel::Unsubscribe(int token) {
  std::lock_guard guard(mutex_);
  listeners_.erase(token);
}

}  // namespace hylo
