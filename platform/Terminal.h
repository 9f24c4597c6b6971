#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A command-line program's standard streams, its arguments and Ctrl+C, on the operating
// system's own interface.
namespace platform {

enum class StandardStream
{
    Output,
    Error
};

// True when the stream is a terminal (on Windows a console) that understands the carriage
// return and the erase-line sequence "ESC [ K" that a progress line is drawn with.
bool IsTerminal(StandardStream stream);

// The width of the terminal on the stream in columns; 80 when it cannot be told.
int TerminalColumns(StandardStream stream);

// The columns a character takes on a terminal: two for wide East Asian ones, none for
// combining marks.
int CharacterColumns(char32_t codePoint);

// Writes all of `data`, text in the local 8-bit encoding, retrying after interruptions.
// Returns 0 or the errno of the failure, EPIPE when the reader has gone away; on POSIX a
// reader that goes away raises no signal once OnInterrupt was called.
int WriteStream(StandardStream stream, const char *data, std::size_t size);

// Calls `handler` on the first Ctrl+C (on POSIX also on SIGTERM); a second one ends the
// process at once. The handler runs in a signal handler or on a thread of the system's:
// it may only set atomic flags.
void OnInterrupt(void (*handler)());

// The encoding of the terminal's text as the C library names it for the user's locale
// (nl_langinfo(CODESET) on POSIX: "GBK" under zh_CN.GBK, where Qt would assume UTF-8); empty
// where the programs speak to the console in UTF-16 (Windows) or the locale is plain ASCII.
std::string TerminalEncoding();

// The arguments after the program's name as UTF-16, from the wide command line. Windows
// hands `main` its arguments in the ANSI code page, which cannot hold every character;
// POSIX has no wide command line, so there this gives false and `main`'s bytes are the
// arguments.
bool WideArguments(std::vector<std::u16string> &arguments);

} // namespace platform
