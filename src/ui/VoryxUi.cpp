#include "ui/VoryxUi.h"

#include <memory>

#include "base/Localized.h"

namespace voryx {

VoryxUi::VoryxUi(const Paths& paths, VoryxUiOptions options)
    : paths_(paths),
      preferences_(paths_.preferences),
      application_(options.clock ? std::make_unique<kit::UiApplication>(*options.clock)
                                 : std::make_unique<kit::UiApplication>()),
      app_(*application_),
      window_(app_.notifications()) {
  app_.setWindow(&window_);
  app_.loop().performOnMain([this, options = std::move(options)] {
    const auto& alert = options.startupAlert;
    if (alert) app_.showAlert({"", *alert, nullptr, localized("Cancel"), {localized("Ok")}});
    auto root = std::make_unique<RootViewController>(app_, window_, paths_, preferences_,
                                                     options.device);
    root_ = root.get();
    app_.navigation().setRoot(std::move(root));
  });
}

void VoryxUi::setLanguage(const std::string& language) {
  app_.loop().performOnMain(
      [this, language] {
        if (voryx::language() == language) return;
        voryx::setLanguage(language);
        for (kit::Screen* screen : app_.navigation().screens()) screen->languageDidChange();
      },
      true);
}

}  // namespace voryx
