// The main window as a view model: named controls with the properties a front end renders
// (caption, visibility, enabled state, picture, geometry, list items, progress). Front ends observe
// changes and forward clicks; no logic lives in them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarvex {

class TViewModel;

enum class TControlKind {
  ckLabel,
  ckButton,
  ckImage,
  ckComboBox,
  ckEdit,
  ckProgressBar,
  ckGroupBox,
  ckPanel,
  ckCheckBox,
  ckPage
};

struct TGeometry {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool operator==(const TGeometry&) const = default;
};

// A control of the window. Every setter that changes a value tells the view model's observers.
class TControl {
 public:
  // Parent: -1 for the header, footer and side panel; 0..2 for the wizard pages.
  TControl(TViewModel& owner, std::string name, TControlKind kind, std::string caption = {}, int page = -1,
           TGeometry geometry = {});
  TControl(const TControl&) = delete;
  TControl& operator=(const TControl&) = delete;

  [[nodiscard]] const std::string& Name() const { return name_; }
  [[nodiscard]] TControlKind Kind() const { return kind_; }
  [[nodiscard]] int Page() const { return page_; }
  void SetPage(int page);
  // The container whose client area the geometry is relative to: a panel or group box's name, or
  // empty for the window (header and footer) or the page.
  [[nodiscard]] const std::string& ParentName() const { return parent_; }
  void SetParentName(const std::string& parent) { parent_ = parent; }

  [[nodiscard]] const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  [[nodiscard]] bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  [[nodiscard]] bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  [[nodiscard]] const std::string& Picture() const { return picture_; }
  void SetPicture(const std::string& resourceName);
  [[nodiscard]] const TGeometry& Geometry() const { return geometry_; }
  void SetGeometry(const TGeometry& geometry);
  void SetLeft(int left);
  void SetTop(int top);
  void SetWidth(int width);
  [[nodiscard]] int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  // Drop-down list.
  [[nodiscard]] const std::vector<std::string>& Items() const { return items_; }
  void SetItems(const std::vector<std::string>& items);  // loses the selection
  [[nodiscard]] int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);  // -1 selects nothing; out-of-range values select nothing
  [[nodiscard]] std::string SelectedText() const;

  // Progress bar.
  [[nodiscard]] int Min() const { return min_; }
  [[nodiscard]] int Max() const { return max_; }
  [[nodiscard]] int Position() const { return position_; }
  void SetMin(int v);
  void SetMax(int v);
  void SetPosition(int v);

  // Check box.
  [[nodiscard]] bool Checked() const { return checked_; }
  void SetChecked(bool checked);

 private:
  void Changed();

  TViewModel& owner_;
  std::string name_;
  TControlKind kind_;
  int page_;
  std::string parent_;
  std::string caption_;
  bool visible_ = true;
  bool enabled_ = true;
  std::string picture_;
  TGeometry geometry_;
  int tag_ = 0;
  std::vector<std::string> items_;
  int itemIndex_ = -1;
  int min_ = 0, max_ = 100, position_ = 0;
  bool checked_ = false;
};

class TViewModel {
 public:
  using Observer = std::function<void(const TControl&)>;

  TViewModel() = default;
  TViewModel(const TViewModel&) = delete;
  TViewModel& operator=(const TViewModel&) = delete;

  // Observers are called on the user-interface thread after each change, in registration order.
  void AddObserver(Observer observer) { observers_.push_back(std::move(observer)); }
  // Keyboard focus: the window logic asks for it; a renderer moves it to the control's widget.
  void AddFocusObserver(Observer observer) { focusObservers_.push_back(std::move(observer)); }
  void RequestFocus(const TControl& control) {
    focused_ = &control;
    for (const auto& o : focusObservers_) o(control);
  }
  // The control last asked to have the focus; nullptr before any request.
  [[nodiscard]] const TControl* FocusRequested() const { return focused_; }
  [[nodiscard]] const std::vector<TControl*>& Controls() const { return controls_; }
  [[nodiscard]] TControl* Find(const std::string& name) const;

 private:
  friend class TControl;
  void Register(TControl* control) { controls_.push_back(control); }
  void Notify(const TControl& control) const;

  std::vector<TControl*> controls_;
  std::vector<Observer> observers_;
  std::vector<Observer> focusObservers_;
  const TControl* focused_ = nullptr;
};

}  // namespace tarvex
