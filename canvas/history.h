// The window's way back: its last pictures kept as recipes, not bitmaps,
// and painted again on request exactly as they were first shown.
//
// Each entry holds its recipe and the source pictures it was painted from,
// by their shared picture handles: a later drop or Set changes the window's
// sources, never an entry's. A new picture is always added after the
// newest entry, wherever the way back had gone; beyond kCapacity entries
// the oldest is forgotten.
//
// What it does not promise: that going back is quick (a picture is painted
// again, finishing pass included), or any order among pictures not painted
// through PaintNew.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "canvas/recipe.h"
#include "generator/form.h"

namespace pictovance {

class PictureHistory {
 public:
  static constexpr std::size_t kCapacity = 100;

  // Paints a new picture from seed (PaintPicture) and keeps it as the
  // newest entry, which is then the one shown. Does nothing while Busy.
  void PaintNew(FormState& state, Form& form, std::uint64_t seed);

  // Paints the entry before (Back) or after (Forward) the one shown again
  // and makes it the result, with its recipe. False, with nothing done, at
  // either end or while Busy. The window's own sources, size and palette
  // are as before afterwards.
  bool Back(FormState& state, Form& form);
  bool Forward(FormState& state, Form& form);

  std::size_t Size() const { return m_entries.size(); }
  // The index of the entry shown last, 0 for the oldest.
  std::size_t Shown() const { return m_shown; }

 private:
  struct Entry {
    Recipe recipe;
    std::vector<Picture> sources;
  };
  void Repaint(FormState& state, Form& form, const Entry& entry);

  std::deque<Entry> m_entries;
  std::size_t m_shown = 0;
};

}  // namespace pictovance
