// A window stand-in for the canvas tests: it records every call in order
// (a log of short lines) and keeps the latest captions.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "generator/form.h"

namespace pictovance::testing {

class FakeForm : public Form {
 public:
  // Log lines: "status:<text>", "count:<text>", "res:<text>", "events",
  // "show:null" or "show:<W>x<H>", "about".
  std::vector<std::string> log;
  std::vector<std::string> statuses;
  std::string status;
  std::string countCaption;
  std::string resCaption;
  int eventsRun = 0;
  std::vector<Picture> shown;

  bool effects = false;
  bool aboutVisible = false;
  std::string previewTag = "15790320";
  // Runs inside ProcessEvents, as an event handler would.
  std::function<void()> onEvents;
  // Runs before a resolution caption is recorded (a test can throw here).
  std::function<void()> onResolution;

  bool SpecialEffectsTicked() const override { return effects; }
  void SetStatus(std::string_view text) override {
    status = text;
    statuses.push_back(status);
    log.push_back("status:" + status);
  }
  void ProcessEvents() override {
    ++eventsRun;
    log.push_back("events");
    if (onEvents) onEvents();
  }
  bool AboutVisible() const override { return aboutVisible; }
  void ToggleAbout() override {
    aboutVisible = !aboutVisible;
    log.push_back("about");
  }
  double PreviewScaleWidth() const override { return 400; }
  double PreviewScaleHeight() const override { return 300; }
  std::string PreviewTag() const override { return previewTag; }
  void ShowPicture(const Picture& picture) override {
    shown.push_back(picture);
    log.push_back(picture.IsNull()
                      ? "show:null"
                      : "show:" + std::to_string(picture.Width()) + "x" + std::to_string(picture.Height()));
  }
  std::string FileCountTag() const override { return "Files loaded: "; }
  void SetFileCountCaption(std::string_view text) override {
    countCaption = text;
    log.push_back("count:" + countCaption);
  }
  void SetResolutionCaption(std::string_view text) override {
    if (onResolution) onResolution();
    resCaption = text;
    log.push_back("res:" + resCaption);
  }

  // The log without the lines that start with prefix.
  std::vector<std::string> LogWithout(std::string_view prefix) const {
    std::vector<std::string> kept;
    for (const auto& line : log) {
      if (!std::string_view(line).starts_with(prefix)) kept.push_back(line);
    }
    return kept;
  }
};

}  // namespace pictovance::testing
