#pragma once

#include <QTextStream>

namespace relais {

// Lets a program without a console of its own (a Windows GUI program)
// print into the console it was started from and hear its Ctrl+C.
// Nothing to do where every program has its terminal.
void joinCallersConsole();

// Standard output and error as text streams. To a file or a pipe they write
// UTF-8; to a Windows console UTF-16, so that German letters read right
// whatever the console's code page.
QTextStream& consoleOut();
QTextStream& consoleErr();

} // namespace relais
