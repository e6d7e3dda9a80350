// The command line of morlink: options into session settings, and the usage text.
#pragma once

// What the command line asks for.
enum OptionsResult {
    OPTIONS_RUN,    // a session, with the settings read
    OPTIONS_USAGE,  // the usage text or the version (--version), which has
                    // been printed: the run is done
    OPTIONS_BAD,    // an unknown option or mode, which has been reported
};

// Reads the options from argv[1] on into the session settings. Stops at the
// usage option (also --help), at --version and at the first unknown option or
// mode.
OptionsResult ParseOptions(int argc, char** argv);
