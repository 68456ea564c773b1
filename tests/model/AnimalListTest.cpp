// A cell's list must keep exactly the order a plain array would: every random draw of a day
// follows it. Random sequences of the operations the cell's passes make are checked, step by
// step, against a std::vector given the same operations.
#include "model/AnimalList.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace soilweb {
namespace {

struct Tag {};

void expectSame(const AnimalList<Tag>& list, const std::vector<Tag*>& reference, int step) {
  ASSERT_EQ(list.size(), reference.size()) << "after step " << step;
  for (std::size_t i = 0; i < reference.size(); ++i) ASSERT_EQ(list[i], reference[i]) << "at " << i << ", step " << step;
}

TEST(AnimalListTest, KeepsThePlainArraysOrderUnderRandomPasses) {
  std::vector<Tag> pool(4000);
  std::mt19937 random(20261209);
  AnimalList<Tag> list;
  std::vector<Tag*> reference;
  std::size_t next = 0;
  for (int step = 0; step < 20000; ++step) {
    const auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const unsigned what = static_cast<unsigned>(pick(10));
    if (reference.empty() || what < 2) {  // a newcomer at the end
      Tag* animal = &pool[next++ % pool.size()];
      list.push_back(animal);
      reference.push_back(animal);
    } else if (what < 6) {  // a pass step: out, act, back in its place (or not)
      const std::size_t at = pick(reference.size());
      Tag* animal = reference[at];
      list.erase(at);
      reference.erase(reference.begin() + static_cast<std::ptrdiff_t>(at));
      if (what < 5) {
        list.insert(at, animal);
        reference.insert(reference.begin() + static_cast<std::ptrdiff_t>(at), animal);
      }
    } else if (what < 8) {  // a victim taken from anywhere, found by identity
      Tag* victim = reference[pick(reference.size())];
      const std::size_t at = list.find(victim);
      ASSERT_LT(at, list.size());
      EXPECT_EQ(reference[at], victim);
      list.erase(at);
      reference.erase(reference.begin() + static_cast<std::ptrdiff_t>(at));
    } else if (what == 8) {  // an insert with no gap open, then a reader that closes it
      ASSERT_EQ(list.items(), reference);
      const std::size_t at = pick(reference.size() + 1);
      Tag* animal = &pool[next++ % pool.size()];
      list.insert(at, animal);
      reference.insert(reference.begin() + static_cast<std::ptrdiff_t>(at), animal);
    } else {  // a swap of two places, as the breeding shuffle does
      const std::size_t i = pick(reference.size()), j = pick(reference.size());
      std::swap(list[i], list[j]);
      std::swap(reference[i], reference[j]);
    }
    expectSame(list, reference, step);
  }
  EXPECT_EQ(list.items(), reference);
  EXPECT_EQ(list.find(nullptr), list.size());
}

TEST(AnimalListTest, AWalkFromFrontToBackShiftsEachAnimalOnce) {
  // Every other animal leaves, the rest go back: the array a reader gets is the stayers in order.
  std::vector<Tag> pool(9);
  AnimalList<Tag> list;
  for (Tag& tag : pool) list.push_back(&tag);
  std::size_t position = 0;
  for (std::size_t k = 0; k < pool.size(); ++k) {
    Tag* animal = list[position];
    list.erase(position);
    if (k % 2 == 0) list.insert(position++, animal);
  }
  EXPECT_EQ(list.items(), (std::vector<Tag*>{&pool[0], &pool[2], &pool[4], &pool[6], &pool[8]}));
}

}  // namespace
}  // namespace soilweb
