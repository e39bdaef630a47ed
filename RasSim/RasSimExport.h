// How the RasSim modules export their functions: undecorated stdcall names on
// Windows (with -Wl,--kill-at), default visibility elsewhere.
#pragma once

#if defined(_WIN32)
#define RASSIM_EXPORT extern "C" __declspec(dllexport)
#else
#define RASSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
