// A form without a window for the generator's tests: it records what the
// operations show and lets a test hook into the moments events would run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "generator/form.h"

namespace pictovance::testing_support {

class FakeForm : public Form {
 public:
  bool effects = false;
  bool aboutVisible = false;
  double previewWidth = 400;
  double previewHeight = 300;
  std::string previewTag = "15790320";
  std::vector<std::string> statusHistory;
  std::string status;
  int processEventsCalls = 0;
  int toggleAboutCalls = 0;
  std::vector<Picture> shown;
  std::string fileCountCaption;
  std::string resolutionCaption;
  std::function<void()> onProcessEvents;

  bool SpecialEffectsTicked() const override { return effects; }
  void SetStatus(std::string_view text) override {
    status = std::string(text);
    statusHistory.push_back(status);
  }
  void ProcessEvents() override {
    ++processEventsCalls;
    if (onProcessEvents) onProcessEvents();
  }
  bool AboutVisible() const override { return aboutVisible; }
  void ToggleAbout() override {
    ++toggleAboutCalls;
    aboutVisible = !aboutVisible;
  }
  double PreviewScaleWidth() const override { return previewWidth; }
  double PreviewScaleHeight() const override { return previewHeight; }
  std::string PreviewTag() const override { return previewTag; }
  void ShowPicture(const Picture& picture) override { shown.push_back(picture); }
  std::string FileCountTag() const override { return "Files loaded: "; }
  void SetFileCountCaption(std::string_view text) override { fileCountCaption = std::string(text); }
  void SetResolutionCaption(std::string_view text) override { resolutionCaption = std::string(text); }
};

}  // namespace pictovance::testing_support
