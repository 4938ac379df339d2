// Bodies of the older operation names of the action classes. Each only forwards.
#include "actions/CCActionManager.h"
#include "core/CCDirector.h"

CCActionManager* CCActionManager::sharedManager() {
    return CCDirector::sharedDirector()->actionManager();
}
