#pragma once

// What the desktop of this system offers the engine.
namespace platform {

// Reports are shown in Notepad on Windows; elsewhere the program that started the run opens
// them, if at all.
#ifdef _WIN32
constexpr bool opensReportsInNotepad = true;
#else
constexpr bool opensReportsInNotepad = false;
#endif

} // namespace platform
