// A form without a window: the special-effects switch, a 400 x 300 preview
// that nobody looks at (and so is never made), and captions that go
// nowhere. The renderer paints
// through it, and so do the benchmarks.
#pragma once

#include <string>
#include <string_view>

#include "generator/form.h"

namespace pictovance {

class HeadlessForm final : public Form {
 public:
  explicit HeadlessForm(bool effects) : m_effects(effects) {}

  bool SpecialEffectsTicked() const override { return m_effects; }
  void SetStatus(std::string_view) override {}
  void ProcessEvents() override {}
  bool AboutVisible() const override { return false; }
  void ToggleAbout() override {}
  double PreviewScaleWidth() const override { return 400; }
  double PreviewScaleHeight() const override { return 300; }
  std::string PreviewTag() const override { return "15790320"; }  // 0xF0F0F0, a light grey
  void ShowPicture(const Picture&) override {}
  bool PreviewSeen() const override { return false; }
  std::string FileCountTag() const override { return "Files loaded: "; }
  void SetFileCountCaption(std::string_view) override {}
  void SetResolutionCaption(std::string_view) override {}

 private:
  bool m_effects;
};

}  // namespace pictovance
