#pragma once

#include <memory>

namespace chimora {

class Form1;

/// The program's start-up: locates and loads the settings (creating them with defaults when
/// missing), then builds and shows the wizard window. Returns nullptr when the program must end
/// at once (its message has been shown); the settings file is then left as it was.
std::unique_ptr<Form1> StartChimora();

} // namespace chimora
