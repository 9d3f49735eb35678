// A Windows GUI program starts without a console, so what it prints (the
// window's --help and --version) would be lost when it is run from a Command
// Prompt. attachParentConsole() connects standard output and standard error
// that lead nowhere to the console of the program that started it, if it has
// one; a stream redirected to a file or pipe is left alone. Elsewhere the
// program's streams are already its terminal's, and it does nothing.
#pragma once

namespace kx {

void attachParentConsole();

}  // namespace kx
