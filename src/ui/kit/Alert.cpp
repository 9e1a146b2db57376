#include "ui/kit/Alert.h"

namespace voryx::kit {

std::vector<std::string> Alert::buttons() const {
  std::vector<std::string> all;
  if (cancelButton) all.push_back(*cancelButton);
  all.insert(all.end(), otherButtons.begin(), otherButtons.end());
  return all;
}

nlohmann::json Alert::render() const {
  nlohmann::json out{{"id", id},
                     {"title", title},
                     {"message", message},
                     {"buttons", buttons()},
                     {"cancelIndex", cancelButton ? nlohmann::json(0) : nlohmann::json(nullptr)}};
  if (textField) out["textField"] = {{"secure", textField->secure}, {"placeholder", textField->placeholder}};
  return out;
}

std::vector<std::string> ActionSheet::buttons() const {
  std::vector<std::string> all = otherButtons;
  if (cancelButton) all.push_back(*cancelButton);
  return all;
}

nlohmann::json ActionSheet::render() const {
  nlohmann::json out{{"id", id},
                     {"title", title},
                     {"buttons", buttons()},
                     {"cancelIndex", cancelButton ? nlohmann::json(otherButtons.size())
                                                  : nlohmann::json(nullptr)}};
  if (!message.empty()) out["message"] = message;
  return out;
}

}  // namespace voryx::kit
