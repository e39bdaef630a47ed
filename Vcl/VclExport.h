// Export/import decoration of the host framework library (vcl30): one shared
// library so that the application, the designer host and every package module
// loaded into it share one class registry, one palette, one unit table state,
// one timer queue and one Application object.
#pragma once

#if defined(_WIN32)
#if defined(VCL_BUILDING)
#define VCL_API __declspec(dllexport)
#else
#define VCL_API __declspec(dllimport)
#endif
#else
#define VCL_API __attribute__((visibility("default")))
#endif
