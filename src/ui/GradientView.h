#pragma once
// The background of a list row: a vertical gradient whose colours are spread evenly from
// the top edge to the bottom edge, in one of four sets. The page draws the sets from the
// "gradients" table of the main screen's snapshot.
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

namespace voryx {

struct Rgba {
  double r, g, b, a;  // 0..1
};

struct GradientSet {
  std::string_view name;
  std::span<const Rgba> colors;  // top to bottom
};

class GradientView {
 public:
  // A new view shows the gray set.
  void gray();
  void cyan();
  void green();
  void red();
  const GradientSet& colors() const { return *set_; }

  // {"gray": [[r,g,b,a], ...], "cyan": ..., "green": ..., "red": ...}
  static nlohmann::json table();

 private:
  const GradientSet* set_ = &kGray;

  static constexpr Rgba kGrayColors[] = {
      {0.35, 0.35, 0.35, 1}, {0.55, 0.55, 0.55, 1}, {0.55, 0.55, 0.55, 1}, {0.35, 0.35, 0.35, 1}};
  static constexpr Rgba kCyanColors[] = {{0, 0.3, 0.3, 1}, {0, 0.8, 0.5, 1}, {0, 0.3, 0.3, 1}};
  static constexpr Rgba kGreenColors[] = {{0, 0.3, 0, 1}, {0, 0.8, 0, 1}, {0, 0.3, 0, 1}};
  static constexpr Rgba kRedColors[] = {{0.3, 0, 0, 1}, {0.8, 0, 0, 1}, {0.3, 0, 0, 1}};
  static constexpr GradientSet kGray{"gray", kGrayColors};
  static constexpr GradientSet kCyan{"cyan", kCyanColors};
  static constexpr GradientSet kGreen{"green", kGreenColors};
  static constexpr GradientSet kRed{"red", kRedColors};
};

}  // namespace voryx
