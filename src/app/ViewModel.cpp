#include "app/ViewModel.h"

namespace tarvex {

TControl::TControl(TViewModel& owner, std::string name, TControlKind kind, std::string caption, int page,
                   TGeometry geometry)
    : owner_(owner),
      name_(std::move(name)),
      kind_(kind),
      page_(page),
      caption_(std::move(caption)),
      geometry_(geometry) {
  owner_.Register(this);
}

void TControl::Changed() {
  owner_.Notify(*this);
}

void TControl::SetPage(int page) {
  if (page_ == page) return;
  page_ = page;
  Changed();
}

void TControl::SetCaption(const std::string& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  Changed();
}

void TControl::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  Changed();
}

void TControl::SetEnabled(bool enabled) {
  if (enabled_ == enabled) return;
  enabled_ = enabled;
  Changed();
}

void TControl::SetPicture(const std::string& resourceName) {
  // Pictures are reloaded from the resources each time they are set; observers hear of every set.
  picture_ = resourceName;
  Changed();
}

void TControl::SetGeometry(const TGeometry& geometry) {
  if (geometry_ == geometry) return;
  geometry_ = geometry;
  Changed();
}

void TControl::SetLeft(int left) {
  TGeometry g = geometry_;
  g.Left = left;
  SetGeometry(g);
}

void TControl::SetTop(int top) {
  TGeometry g = geometry_;
  g.Top = top;
  SetGeometry(g);
}

void TControl::SetWidth(int width) {
  TGeometry g = geometry_;
  g.Width = width;
  SetGeometry(g);
}

void TControl::SetItems(const std::vector<std::string>& items) {
  items_ = items;
  itemIndex_ = -1;
  Changed();
}

void TControl::SetItemIndex(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) index = -1;
  if (itemIndex_ == index) return;
  itemIndex_ = index;
  Changed();
}

std::string TControl::SelectedText() const {
  if (itemIndex_ < 0) return {};
  return items_[static_cast<std::size_t>(itemIndex_)];
}

void TControl::SetMin(int v) {
  if (min_ == v) return;
  min_ = v;
  Changed();
}

void TControl::SetMax(int v) {
  if (max_ == v) return;
  max_ = v;
  Changed();
}

void TControl::SetPosition(int v) {
  if (v < min_) v = min_;
  if (v > max_) v = max_;
  if (position_ == v) return;
  position_ = v;
  Changed();
}

void TControl::SetChecked(bool checked) {
  if (checked_ == checked) return;
  checked_ = checked;
  Changed();
}

TControl* TViewModel::Find(const std::string& name) const {
  for (auto* c : controls_) {
    if (c->Name() == name) return c;
  }
  return nullptr;
}

void TViewModel::Notify(const TControl& control) const {
  for (const auto& o : observers_) o(control);
}

}  // namespace tarvex
