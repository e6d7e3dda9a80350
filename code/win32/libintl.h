// The gettext functions of the Windows build, where no libintl is at hand: the
// same calls as GNU libintl's, for one text domain at a time, over the compiled
// catalogues that the build writes (win32/libintl.cpp). Not thread-safe while
// binding; gettext itself only reads.
#pragma once

// Selects the text domain (null: only returns the current one); returns it.
char* textdomain(const char* pcDomain);

// Binds pcDomain to the directory that holds <language>/LC_MESSAGES/<domain>.mo
// (null: only returns the bound one); returns the bound directory, or null.
char* bindtextdomain(const char* pcDomain, const char* pcDir);

// The translation of pcMsgId in the current domain's catalogue for the user's
// language, else pcMsgId itself. A translated format is checked as its
// original, as with libintl.
char* gettext(const char* pcMsgId) __attribute__((format_arg(1)));
