// Every message the program shows, in the system's ANSI code page.
#pragma once

const char kFoundFormat[] = "找到 %d 项";
const char kNothingFound[] = "未找到任何项";
const char kNothingSelected[] = "未选定任何项";
const char kNeedsRestartFormat[] = "文件: %s\n无法直接删除,需要重启";
const char kCannotDeleteFormat[] = "文件: %s\n无法删除";
const char kCannotRestoreFormat[] = "文件: %s\n无法恢复";
const char kPrivilegeFailed[] = "提权失败";
const char kRestartQuestion[] = "建议立即重启,以彻底清除病毒文件";
