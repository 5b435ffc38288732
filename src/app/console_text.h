#pragma once

#include <string>
#include <string_view>

// Comments and lines from a vector file are bytes in whatever encoding the tool that wrote them
// used: UTF-8 from current tools, Windows-1252 from older Windows ones, sometimes both in one file.

// The text as the window shows it: valid UTF-8 as it is, every other byte as the Windows-1252
// character it stands for (0x80-0x9F holes as U+0080-U+009F).
std::string ConsoleUtf8(std::string_view Bytes);

// The text as it may go to a terminal: control characters could move the cursor, retitle the
// window or worse, so C0 controls but tab, DEL and C1 controls (U+0080-U+009F, and raw bytes
// 0x80-0x9F that are not part of valid UTF-8, which 8-bit terminals obey) become "?". Valid UTF-8
// and other bytes pass.
std::string TerminalSafe(std::string_view Bytes);
