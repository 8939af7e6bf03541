// Which files a hijack's text names for deletion at the next start.
#pragma once

// Queues the program that a debugger's or monitor's `text` names: the file
// that each of the `programs` reading the setting (kNativePrograms,
// kWow64Programs) would start for it, by its real path, when that is a
// Windows program this Windows can start and the system does not protect
// it. The text is a plain full path, maybe in quotes, maybe followed by
// spaces; a text with arguments names nothing.
void QueueHijackProgram(const wchar_t* text, int programs);

// Queues the program that a command line starts first, by the same rules:
// its first token, the text inside its opening quotes or up to its first
// space, when that is a plain full path. A command that the shell or
// cmd.exe reads (`expand`) takes the environment first, as they do.
void QueueCommandProgram(const wchar_t* command, bool expand, int programs);
