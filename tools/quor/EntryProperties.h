// `quor entry show`, and entries created or edited from property options.
#pragma once

#include <string>

#include "tools/quor/Cli.h"
#include "tools/quor/RasSession.h"

namespace quortool {

int RunEntryShow(const Args& args);
// `entry create`/`entry edit` with property options instead of the dialog.
bool HasPropertyOptions(const Args& args);
int CreateFromOptions(RasSession& session, const Args& args);
int EditFromOptions(RasSession& session, const Args& args, const std::string& entry);

}  // namespace quortool
