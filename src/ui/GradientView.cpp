#include "ui/GradientView.h"

namespace voryx {

void GradientView::gray() { set_ = &kGray; }
void GradientView::cyan() { set_ = &kCyan; }
void GradientView::green() { set_ = &kGreen; }
void GradientView::red() { set_ = &kRed; }

nlohmann::json GradientView::table() {
  nlohmann::json out = nlohmann::json::object();
  for (const auto* set : {&kGray, &kCyan, &kGreen, &kRed}) {
    nlohmann::json stops = nlohmann::json::array();
    for (const auto& c : set->colors) stops.push_back({c.r, c.g, c.b, c.a});
    out[std::string(set->name)] = std::move(stops);
  }
  return out;
}

}  // namespace voryx
