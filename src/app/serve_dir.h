#pragma once
// The served directory: an absolute path ending in '/'. Written by start-up and the settings
// dialog, read by every transfer when it starts; a reader always gets one value whole.

#include <string>

namespace revuzada {

void SetServeDir(std::string dir);
std::string ServeDir();

}  // namespace revuzada
