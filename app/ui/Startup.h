#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace chimora {

class Form1;

/// The audio file named on the command line (`arguments` without the program's name, Qt's own
/// options already taken out): the absolute path of the first argument that names an existing
/// file, or empty. Every other argument is ignored; `ignored` receives one line per argument
/// saying so, for standard error. Resolved here because start-up changes the working folder.
QString audioFileArgument(const QStringList& arguments, QStringList* ignored);

/// The program's start-up: locates and loads the settings (creating them with defaults when
/// missing), then builds and shows the wizard window. With `audioFile`, the wizard opens it as
/// "Open audio file" does (editing page, the editor loads it). Returns nullptr when the program
/// must end at once (its message has been shown); the settings file is then left as it was.
///
/// For tests of the installed program: when the environment variable CHIMORA_QUIT_AFTER_LOAD is
/// set and `audioFile` is given, the program prints one line to standard output once the editor
/// has finished loading ("loaded ok=1 page=1 frames=8000 file=/path") and closes the wizard as
/// "Cancel" does, which writes the settings and ends the program.
std::unique_ptr<Form1> StartChimora(const QString& audioFile = {});

/// The desktop program: makes the application object, starts the wizard with the audio file
/// named among `argc`/`argv` (see audioFileArgument) and runs it until it closes. Returns the
/// process's exit code.
int runWizard(int argc, char** argv);

} // namespace chimora
