// Which files a hijack's text names for deletion at the next start.
#pragma once

// Queues the program that `text` names, when the text is the plain full
// path of an existing Windows program that the system does not protect,
// checked on the very file that the Session Manager will delete. On 64-bit
// Windows a path in system32 names the native file and its SysWOW64
// namesake: each is checked and queued on its own.
void QueueHijackProgram(const wchar_t* text);
