// The command line of morlink: options into session settings, and the usage text.
#pragma once

// Reads the options from argv[1] on into the session settings. Ends the process
// after the usage text (code 0) and after an unknown option or mode (code 255).
void ParseOptions(int argc, char** argv);

// Prints the usage text, with pcName as the program's name, on standard output.
void Usage(const char* pcName);
