// velindra-cli: the command-line front end. Reads text with magnet links from files or standard
// input, saves each link's .torrent file into a folder, and prints the saved paths.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "cli/cli_texts.h"
#include "cli/language.h"
#include "cli/run.h"
#include "core/terminal_text.h"
#include "platform/console.h"
#include "platform/process_setup.h"
#include "platform/sources.h"

int main(int argc, char** argv) {
    namespace t = velindra::cli_texts;
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    try {
        const velindra::Console console = velindra::SetUpConsole();
        velindra::SetLanguage(velindra::UserLanguage());
        const int status = velindra::cli::Run(velindra::Utf8Arguments(argc, argv), console);
        if (velindra::NetworkClosing()) {
            // Everything is said and on disk, and the network's state is saved: the rest of
            // the session's teardown is the system's to finish.
            std::cout.flush();
            std::cerr.flush();
            std::fflush(nullptr);
            std::_Exit(velindra::cli::ExitStatus(status));
        }
        return velindra::cli::ExitStatus(status);
    } catch (const std::exception& e) {
        std::cerr << t::kProgram << ": " << velindra::EscapeControls(e.what()) << "\n";
    } catch (...) {
        std::cerr << t::kProgram << ": " << t::kInternalError << "\n";
    }
    return 2;
}
