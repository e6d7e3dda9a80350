// The message catalogue of morlink (GNU gettext, text domain "morlink").
#pragma once

// Selects the user's locale and the text domain, and binds the domain to the
// directory that holds the program's catalogues:
// - the program's own directory, when it holds a catalogue of the domain for
//   some language (<dir>/<lang>/LC_MESSAGES/morlink.mo), as the build tree or
//   an unpacked copy does. The own directory is the directory part of pcArgv0
//   when it has one, and also the directory of the running executable;
// - otherwise share/locale beside the executable's directory
//   (<prefix>/bin/morlink binds <prefix>/share/locale), as installed.
// The current directory is never searched. Leaves '/' as the last separator
// of pcArgv0, which the usage text shows. pcArgv0 may be null.
void BindCatalogue(char* pcArgv0);
