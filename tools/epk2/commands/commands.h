// Every command the tool offers, each defined in its own file with its help,
// its options and what it needs on the command line.
#pragma once

#include "cli/cli.h"

extern const CommandDefinition LIST_COMMAND;
extern const CommandDefinition EXTRACT_COMMAND;
extern const CommandDefinition CAT_COMMAND;
extern const CommandDefinition VERIFY_COMMAND;
extern const CommandDefinition INFO_COMMAND;
extern const CommandDefinition PACK_COMMAND;
extern const CommandDefinition MERGE_COMMAND;
extern const CommandDefinition DIFF_COMMAND;
extern const CommandDefinition UPDATE_COMMAND;
extern const CommandDefinition KEYGEN_COMMAND;
extern const CommandDefinition SIGN_COMMAND;
