#include "FoodWebMatrices.h"

#include "BackgroundWriter.h"
#include "Cell.h"
#include "GlobalFunctions.h"
#include "OutputFile.h"

#include <string>

void FoodWebMatrices::write(const std::vector<std::unique_ptr<Cell>>& cells, int founders, OutputFile& encounters,
                            OutputFile& predations, OutputFile& nodes, BackgroundWriter* writer) {
  const int N = founders;  // rows and columns
  const auto rows = static_cast<std::size_t>(N);
  std::vector<std::vector<int>> met(rows), eaten(rows);  // per founder, the columns holding a 1
  std::vector<std::string> categories(rows, "undefined");
  for (const auto& cell : cells) cell->updateEncountersPredationsAndNodesMatricesForAnimalsInThisCell(met, eaten, categories, N);

  // Blocks of text go to the background writer when there is one, so that
  // writing one block overlaps formatting the next.
  auto emit = [writer](OutputFile& out, std::string& block) {
    if (writer)
      writer->append(out, std::move(block));
    else
      out.append(block);
    block.clear();
  };
  const std::size_t BLOCK = std::size_t(1) << 20;
  std::string zeros;  // a row's cells, all 0
  for (int j = 0; j < N; ++j) zeros += "\t0";
  auto writeMatrix = [&](OutputFile& out, const std::vector<std::vector<int>>& ones) {
    std::string block;
    for (int j = 0; j < N; ++j) {
      block += '\t';
      appendInt(block, j);
    }
    block += '\n';
    for (int i = 0; i < N; ++i) {
      appendInt(block, i);
      const std::size_t row = block.size();
      block += zeros;
      for (int j : ones[i]) block[row + 2 * static_cast<std::size_t>(j) + 1] = '1';
      block += '\n';
      if (block.size() >= BLOCK) emit(out, block);
    }
    emit(out, block);
  };
  writeMatrix(encounters, met);
  writeMatrix(predations, eaten);
  std::string text = "node\tcategory\n";
  for (int i = 0; i < N; ++i) {
    text += 'X';
    appendInt(text, i);
    text += '\t';
    text += categories[i];
    text += '\n';
  }
  emit(nodes, text);
}
