#include "output/KeptLines.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace soilweb {

void KeptLines::Free::operator()(Text* text) const {
  text->~Text();
  ::operator delete(text);
}

KeptLines::Text& KeptLines::keep(int id, const char* chars, std::size_t size, bool frozen, const Cuts& cuts) {
  const std::size_t at = static_cast<std::size_t>(id) / BLOCK;
  if (at >= blocks.size()) blocks.resize(at + 1);
  if (!blocks[at]) blocks[at] = std::make_unique<Block>();
  auto* text = new (::operator new(sizeof(Text) + size)) Text{static_cast<std::uint32_t>(size), build, frozen, cuts};
  std::memcpy(text + 1, chars, size);
  auto& slot = (*blocks[at])[static_cast<std::size_t>(id) % BLOCK];
  slot.reset(text);
  return *text;
}

void KeptLines::buildEnded() {
  if (!sweepDue) return;
  sweepDue = false;
  for (auto& block : blocks) {
    if (!block) continue;
    bool anySeen = false;
    for (auto& text : *block) {
      if (!text) continue;
      if (text->seen == build)
        anySeen = true;
      else
        text.reset();
    }
    if (!anySeen) block.reset();
  }
}

std::size_t KeptLines::blocksHeld() const {
  return static_cast<std::size_t>(
      std::count_if(blocks.begin(), blocks.end(), [](const auto& b) { return b != nullptr; }));
}

}  // namespace soilweb
