#include "canvas/history.h"

#include <string>
#include <utility>

#include "generator/driver.h"

namespace pictovance {

namespace {

// The window as a repaint sees it: the special-effects box says what the
// recipe says, whatever it shows now.
class RecipeForm final : public Form {
 public:
  RecipeForm(Form& window, bool effects) : m_window(window), m_effects(effects) {}

  bool SpecialEffectsTicked() const override { return m_effects; }
  void SetStatus(std::string_view text) override { m_window.SetStatus(text); }
  void ProcessEvents() override { m_window.ProcessEvents(); }
  bool AboutVisible() const override { return m_window.AboutVisible(); }
  void ToggleAbout() override { m_window.ToggleAbout(); }
  double PreviewScaleWidth() const override { return m_window.PreviewScaleWidth(); }
  double PreviewScaleHeight() const override { return m_window.PreviewScaleHeight(); }
  std::string PreviewTag() const override { return m_window.PreviewTag(); }
  void ShowPicture(const Picture& picture) override { m_window.ShowPicture(picture); }
  std::string FileCountTag() const override { return m_window.FileCountTag(); }
  void SetFileCountCaption(std::string_view text) override { m_window.SetFileCountCaption(text); }
  void SetResolutionCaption(std::string_view text) override { m_window.SetResolutionCaption(text); }

 private:
  Form& m_window;
  bool m_effects;
};

// Lends the state an entry's sources and size for one repaint and gives
// the state its own back however the repaint ends. Busy keeps every other
// command away from the borrowed state meanwhile.
class BorrowedColours {
 public:
  BorrowedColours(FormState& state, const Recipe& recipe, const std::vector<Picture>& sources)
      : m_state(state),
        m_sources(std::move(state.Sources)),
        m_files(std::move(state.SourceFiles)),
        m_count(state.SourceCount),
        m_width(state.CanvasW),
        m_height(state.CanvasH),
        m_palette(state.Palette) {
    state.Sources.clear();
    for (const Picture& picture : sources) {
      Image source;
      source.AssignPicture(picture);
      source.SetBackColor(std::to_string(recipe.backColour));
      state.Sources.push_back(std::move(source));
    }
    state.SourceFiles = recipe.sources;
    state.SourceCount = static_cast<std::int32_t>(state.Sources.size());
    state.CanvasW = recipe.width;
    state.CanvasH = recipe.height;
  }
  ~BorrowedColours() {
    m_state.Sources = std::move(m_sources);
    m_state.SourceFiles = std::move(m_files);
    m_state.SourceCount = m_count;
    m_state.CanvasW = m_width;
    m_state.CanvasH = m_height;
    m_state.Palette = m_palette;
  }
  BorrowedColours(const BorrowedColours&) = delete;
  BorrowedColours& operator=(const BorrowedColours&) = delete;

 private:
  FormState& m_state;
  std::vector<Image> m_sources;
  std::vector<SourceFile> m_files;
  std::int32_t m_count;
  std::int32_t m_width;
  std::int32_t m_height;
  PaletteSlots m_palette;
};

}  // namespace

void PictureHistory::PaintNew(FormState& state, Form& form, std::uint64_t seed) {
  const std::optional<Recipe> recipe = PaintPicture(state, form, seed);
  if (!recipe) return;
  Entry entry{*recipe, {}};
  for (const Image& source : state.Sources) entry.sources.push_back(source.GetPicture());
  m_entries.push_back(std::move(entry));
  if (m_entries.size() > kCapacity) m_entries.pop_front();
  m_shown = m_entries.size() - 1;
}

bool PictureHistory::Back(FormState& state, Form& form) {
  if (state.Busy || m_shown == 0 || m_entries.empty()) return false;
  Repaint(state, form, m_entries[m_shown - 1]);
  --m_shown;
  return true;
}

bool PictureHistory::Forward(FormState& state, Form& form) {
  if (state.Busy || m_shown + 1 >= m_entries.size()) return false;
  Repaint(state, form, m_entries[m_shown + 1]);
  ++m_shown;
  return true;
}

void PictureHistory::Repaint(FormState& state, Form& form, const Entry& entry) {
  RecipeForm recipeForm(form, entry.recipe.effects);
  {
    BorrowedColours borrowed(state, entry.recipe, entry.sources);
    Random rng(entry.recipe.seed);
    GeneratePicture(state, recipeForm, rng);
  }
  state.Result->SetTexts(RecipeTexts(entry.recipe));
}

}  // namespace pictovance
