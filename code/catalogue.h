// The message catalogue of morlink (GNU gettext, text domain "morlink").
#pragma once

// Selects the user's locale and the text domain, and binds the domain to the
// program's directory: the directory part of pcArgv0 when it has one, else the
// directory of the running executable. Leaves '/' as the last separator of
// pcArgv0, which the usage text shows. pcArgv0 may be null.
void BindCatalogue(char* pcArgv0);
