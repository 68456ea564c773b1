// One chromosome of one animal: an allele value per locus. Immutable once made;
// owned by the genome of the animal that carries it.
#pragma once

#include <memory>
#include <ostream>
#include <utility>
#include <vector>

class Chromosome {
 public:
  explicit Chromosome(std::vector<double> alleles) : alleles(std::move(alleles)) {}
  virtual ~Chromosome() = default;

  const std::vector<double>& getAlleles() const { return alleles; }

 private:
  std::vector<double> alleles;
};

// "(k)value " for each locus k in order.
std::ostream& operator<<(std::ostream& out, const Chromosome& chromosome);

// One pair of chromosomes per trait, in trait order; owned by its animal.
using ChromosomePair = std::pair<std::unique_ptr<Chromosome>, std::unique_ptr<Chromosome>>;
using Genome = std::vector<ChromosomePair>;
