#include "tests/support/sample_markers.h"

#include <string>

namespace lumerca::testing {

MarkerRecipe BlouseMarker() {
  MarkerRecipe recipe;
  recipe.header.name = "Blouse.2";
  recipe.header.width = 1600.0f;
  recipe.header.scale_x = 0.98f;
  recipe.header.scale_y = 1.0f;
  recipe.sizes = {{38, "38"}, {40, "40"}, {42, "42"}, {44, "44"}};
  recipe.classes = {{"FRONT", ""}, {"BACK", ""}, {"SLEEVE", ""}};
  // (size, class) of pieces 0 to 5.
  recipe.croixes = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 2}};
  for (std::int16_t i = 0; i < 6; ++i) {
    PieceRecipe piece;
    piece.croix_index = i;
    recipe.pieces.push_back(piece);
  }
  auto& front = recipe.pieces[0];
  front.attr5 = 0;
  front.attr2 = 1;
  front.attr4 = 90.0f;
  front.place_x = 100.0f;
  front.min_x = -20.0f;
  front.max_x = 60.0f;
  front.place_y = 50.0f;
  front.min_y = -10.0f;
  front.max_y = 30.0f;
  // 16128 is the code of the distance 0.5.
  recipe.cuts[0] = {SplitRecipe{0, 0, 10, 0, 16128, 2, 0}};
  return recipe;
}

MarkerRecipe JacketMarker() {
  MarkerRecipe recipe;
  recipe.header.name = "JACKET W/24#A";
  recipe.header.text1 = "Sample";
  recipe.header.text3 = "Cutting room 2";
  recipe.header.width = 1520.0f;
  recipe.header.scale_x = 0.985f;
  recipe.header.scale_y = 0.99f;
  recipe.styles = {"JACKET", "LINING"};
  const char* classes[] = {"FRONT L", "FRONT R", "BACK", "SLEEVE.TOP", "SLEEVE.UNDER",
                           "COLLAR", "POCKET#1", "facing"};
  for (const char* c : classes) recipe.classes.push_back({c, "wool"});
  const std::uint8_t sizes[] = {36, 38, 40, 42, 44, 46};
  for (auto s : sizes) recipe.sizes.push_back({s, std::to_string(s)});
  // Sizes 38 to 42 hold the same classes (one model), 36 and 44 their own;
  // 46 holds none.
  float x = 0;
  for (std::int16_t size = 0; size < 5; ++size) {
    for (std::int16_t cls = 0; cls < 8; ++cls) {
      if (size == 0 && cls == 7) continue;
      if (size == 4 && cls == 6) continue;
      recipe.croixes.push_back({size, cls});
      PieceRecipe piece;
      piece.croix_index = static_cast<std::int16_t>(recipe.croixes.size() - 1);
      piece.attr2 = static_cast<std::uint8_t>(cls % 3);
      piece.attr5 = static_cast<std::uint8_t>(size);
      piece.attr4 = cls % 2 ? 180.0f : 0.0f;
      piece.place_x = x;
      piece.place_y = 300.0f + 120.0f * static_cast<float>(cls % 4);
      piece.min_x = -60.0f;
      piece.max_x = 70.0f + 5.0f * static_cast<float>(cls);
      piece.min_y = -45.0f;
      piece.max_y = 50.0f;
      x += 90.0f;
      recipe.pieces.push_back(piece);
    }
  }
  // The collars of sizes 42 and 44 are half pieces.
  for (std::size_t i = 0; i < recipe.pieces.size(); ++i) {
    const auto& croix = recipe.croixes[static_cast<std::size_t>(recipe.pieces[i].croix_index)];
    if (croix.class_index == 5 && croix.size_index >= 3) recipe.halfs.push_back(static_cast<std::int16_t>(i));
  }
  // Cut lines of every kind; offset codes 16000 (0.25), 16256 (1.0), 16384 (2.0).
  const std::uint16_t codes[] = {0, 16000, 16256, 16384, 16320, 16256};
  for (int piece = 0; piece < static_cast<int>(recipe.pieces.size()); piece += 3) {
    std::vector<SplitRecipe> cuts;
    for (std::uint16_t kind = 0; kind < 6; ++kind) {
      float k = static_cast<float>(kind);
      cuts.push_back({-20.0f + k, -30.0f, 25.0f, 10.0f + k, codes[kind], kind, 0});
    }
    recipe.cuts[piece] = cuts;
  }
  recipe.skipped_streams = true;
  return recipe;
}

MarkerRecipe BigBlouse() {
  MarkerRecipe recipe = BlouseMarker();
  recipe.pieces.clear();
  for (std::int16_t i = 0; i < 60; ++i) {
    PieceRecipe piece;
    piece.croix_index = static_cast<std::int16_t>(i % 6);
    piece.place_x = static_cast<float>(i);
    recipe.pieces.push_back(piece);
  }
  return recipe;
}

}  // namespace lumerca::testing
