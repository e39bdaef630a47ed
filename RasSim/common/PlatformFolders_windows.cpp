// Windows per-user folders of the RasSim platform interface (the folders
// themselves are chosen in Platform_windows.cpp).
#include <string>

#include "RasSim/common/Platform.h"

namespace rassim::platform {

// Per-user folders lie in the user's profile, protected by its access list.
bool OwnFolder(const std::string&, std::string& why) {
  why.clear();
  return true;
}

}  // namespace rassim::platform
