// The text the daily animal files keep for each animal so that its line is
// built fast: the fields that never change after birth, formatted once, and a
// dead animal's whole line, made once since its record no longer changes.
// Kept apart from the animals (the model holds no output state), by animal id.
// Ids are handed out in order, so they are filed in blocks of consecutive ids;
// a slot is one pointer, and an animal's text is one allocation (its header
// and its characters together), so that reading it costs what reading a
// string does. A block whose animals are all gone (purged) is let go at the
// next whole build of a file. Owned by the run's daily snapshots for the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace soilweb {

class KeptLines {
 public:
  using Cuts = std::array<std::uint32_t, 6>;  // where the runs of fixed fields start and end

  // One animal's kept text, its characters right after it.
  struct Text {
    std::uint32_t size;  // of the characters
    std::uint32_t seen;  // the last build that wrote the animal's line
    bool frozen;         // the dead animal's whole line, not the fields fixed at birth
    Cuts cuts;
    const char* chars() const { return reinterpret_cast<const char*>(this + 1); }
  };

  // The kept text of the animal with this id (not negative), marked as seen
  // by this build; null when there is none yet.
  Text* find(int id) {
    const std::size_t at = static_cast<std::size_t>(id) / BLOCK;
    if (at >= blocks.size() || !blocks[at]) return nullptr;
    Text* text = (*blocks[at])[static_cast<std::size_t>(id) % BLOCK].get();
    if (text) text->seen = build;
    return text;
  }
  // Keeps the fields fixed at birth of an animal, in runs.
  Text& keepFixed(int id, const std::string& fields, const Cuts& cuts) {
    return keep(id, fields.data(), fields.size(), false, cuts);
  }
  // Keeps a dead animal's whole line, in place of what was kept for it.
  void keepFrozen(int id, const char* line, std::size_t size) { keep(id, line, size, true, {}); }

  // A file's lines are about to be built from every animal of the world.
  void buildStarting() { ++build; }
  // They were: once animals were removed, the text of those not seen goes.
  void buildEnded();
  // Animals were removed since the last build.
  void animalsRemoved() { sweepDue = true; }
  // Keeps nothing from here on (for runs too large to hold their files).
  void forgetAll() { blocks.clear(); }

  // The blocks held (for tests of what is let go).
  std::size_t blocksHeld() const;

 private:
  struct Free {
    void operator()(Text* text) const;
  };
  static constexpr std::size_t BLOCK = 256;
  using Block = std::array<std::unique_ptr<Text, Free>, BLOCK>;

  Text& keep(int id, const char* chars, std::size_t size, bool frozen, const Cuts& cuts);

  std::vector<std::unique_ptr<Block>> blocks;  // by id / BLOCK; null where no animal's text is kept
  std::uint32_t build = 0;
  bool sweepDue = false;
};

}  // namespace soilweb
