// The animals of one cell in one life state, in the order the model visits them. A cell's
// passes take an animal out of its list, let it act and put it back in the same place, or
// take it out for good; in a plain array each of those shifts every animal behind it, so a
// day cost grew with the square of a cell's crowd. Here the array keeps a gap, a run of
// unused slots, where the last change was made: taking out or putting back the animal at
// the gap costs nothing, and moving the gap costs as many shifts as the animals it passes.
// A pass walks its list front to back, so the gap moves one place per animal and a whole
// pass is linear.
//
// The gap is invisible: size, indexing, erase and insert behave exactly as on a
// std::vector holding the same animals, so the order of every list, and with it the order
// of every random draw, is the one a plain array gives. items() closes the gap and hands
// out the plain array for readers outside the passes. Owned by its cell, lives as long as
// it; it holds pointers and owns nothing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace soilweb {

template <class Kind>
class AnimalList {
 public:
  std::size_t size() const { return slots.size() - (gapEnd - gapBegin); }
  bool empty() const { return size() == 0; }
  Kind* operator[](std::size_t i) const { return slots[slotOf(i)]; }
  Kind*& operator[](std::size_t i) { return slots[slotOf(i)]; }

  // The last slot is the last place whether or not a gap sits before it.
  void push_back(Kind* animal) { slots.push_back(animal); }
  void erase(std::size_t i) {
    moveGapTo(i);
    ++gapEnd;
  }
  void insert(std::size_t i, Kind* animal) {
    if (gapBegin == gapEnd) {
      slots.insert(slots.begin() + static_cast<std::ptrdiff_t>(i), animal);
      gapBegin = gapEnd = i + 1;
      return;
    }
    moveGapTo(i);
    slots[gapBegin++] = animal;
  }
  // Position of the animal, size() when it is not here.
  std::size_t find(const Kind* animal) const {
    for (std::size_t i = 0; i < size(); ++i)
      if ((*this)[i] == animal) return i;
    return size();
  }
  void clear() {
    slots.clear();
    gapBegin = gapEnd = 0;
  }
  void reserve(std::size_t n) { slots.reserve(n); }

  // The animals as a plain array, in order (closing the gap changes no order).
  const std::vector<Kind*>& items() const {
    if (gapBegin != gapEnd) {
      slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(gapBegin),
                  slots.begin() + static_cast<std::ptrdiff_t>(gapEnd));
      gapBegin = gapEnd = 0;
    }
    return slots;
  }

 private:
  std::size_t slotOf(std::size_t i) const { return i < gapBegin ? i : i + (gapEnd - gapBegin); }
  // Shifts the animals between the gap and position i across it.
  void moveGapTo(std::size_t i) {
    if (gapBegin == gapEnd) {
      gapBegin = gapEnd = i;
    } else if (i < gapBegin) {
      const std::size_t shift = gapBegin - i;
      std::move_backward(slots.begin() + static_cast<std::ptrdiff_t>(i),
                         slots.begin() + static_cast<std::ptrdiff_t>(gapBegin),
                         slots.begin() + static_cast<std::ptrdiff_t>(gapEnd));
      gapBegin = i;
      gapEnd -= shift;
    } else if (i > gapBegin) {
      const std::size_t shift = i - gapBegin;
      std::move(slots.begin() + static_cast<std::ptrdiff_t>(gapEnd),
                slots.begin() + static_cast<std::ptrdiff_t>(gapEnd + shift),
                slots.begin() + static_cast<std::ptrdiff_t>(gapBegin));
      gapBegin = i;
      gapEnd += shift;
    }
  }

  // Closing the gap for a reader changes no animal's place, so the const readers may do it.
  mutable std::vector<Kind*> slots;
  mutable std::size_t gapBegin = 0, gapEnd = 0;  // the unused slots [gapBegin, gapEnd)
};

}  // namespace soilweb
