// Generates the RAS exports of a module from the one list of RAS functions
// and proves, at compile time, that each export and the edge function behind
// it have exactly the parameter types of the binding's function type. On
// Linux WINAPI is empty, so a parameter list that differs would pass every
// test there and only corrupt the stack under 32-bit stdcall.
#pragma once

#include <type_traits>

#include "Ras2/RasContract.h"
#include "Ras2/RasOptionalContract.h"
#include "RasSim/RasSimExport.h"
#include "RasSim/edge/Edge.h"

#define RASSIM_UNPAREN(...) __VA_ARGS__

// The edge function takes the export's name first, then the RAS parameters.
#define RASSIM_CHECK_EDGE(Edge, P)                                                                       \
  static_assert(std::is_same_v<decltype(&rassim::edge::Edge), DWORD (*)(const char*, RASSIM_UNPAREN P)>, \
                "rassim::edge::" #Edge " must take the export's name and exactly the RAS parameters")

#define RASSIM_CHECK_EXPORT(Export, T) \
  static_assert(std::is_same_v<decltype(&Export), T>, #Export " must have exactly the type " #T)

// One export `Export` with the parameters P, forwarding to the edge function
// `Edge` under its own name.
#define RASSIM_EXPORT_ONE(Export, Edge, T, P, ARGS)          \
  RASSIM_CHECK_EDGE(Edge, P);                                \
  RASSIM_EXPORT DWORD WINAPI Export P {                      \
    return rassim::edge::Edge(#Export, RASSIM_UNPAREN ARGS); \
  }                                                          \
  RASSIM_CHECK_EXPORT(Export, T);
