#pragma once

namespace relais {

// Lets a program without a console of its own (a Windows GUI program)
// print into the console it was started from and hear its Ctrl+C.
// Nothing to do where every program has its terminal.
void joinCallersConsole();

} // namespace relais
