#include "update/update_action.h"

#include <cstring>

UpdateDecision update_decide(const VersionInfo& installed, const VersionInfo& patch) {
    UpdateDecision decision{};
    decision.patch_newer = parse_version(installed.version) < parse_version(patch.version);
    decision.same_kind = std::strcmp(installed.attribute, patch.attribute) == 0;
    decision.action = !decision.patch_newer ? UPDATE_ACTION_START_GAME
                      : !decision.same_kind ? UPDATE_ACTION_KIND_DIFFERS
                                            : UPDATE_ACTION_APPLY;
    return decision;
}
