#pragma once
// Message boxes of start-up and of fatal port failures. Headless, the text goes to stderr;
// the GUI installs its own presenter.

#include <functional>
#include <string>

namespace revuzada {

using MessagePresenter = std::function<void(const std::string& text, const std::string& caption)>;

void SetMessagePresenter(MessagePresenter presenter);
void ShowMessageBox(const std::string& text, const std::string& caption);

}  // namespace revuzada
