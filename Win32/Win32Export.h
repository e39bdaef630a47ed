// Export/import decoration of libquorwin32, the one shared library that holds
// the process's clock (and, off Windows, the window table, the registered
// message names and the message queues), so that every module in the process
// sees the same windows, messages and time.
#pragma once

#if defined(_WIN32)
#if defined(QUORWIN32_BUILDING)
#define QUORWIN32_API __declspec(dllexport)
#else
#define QUORWIN32_API __declspec(dllimport)
#endif
#else
#define QUORWIN32_API __attribute__((visibility("default")))
#endif
