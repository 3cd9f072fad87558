#include "Token.h"

#include "Machine.h"

namespace ntsim {

namespace {
thread_local int systemDepth = 0;
}

bool Token::holds(const std::string& sid) const
{
    if (user == sid)
        return true;
    for (auto& g : groups)
        if (g == sid)
            return true;
    return false;
}

Token Token::system()
{
    return Token { "S-1-5-18", { "S-1-5-32-544", "S-1-1-0", "S-1-5-11" }, true };
}

Token Token::effective()
{
    if (systemDepth > 0)
        return system();
    const UserAccount& u = Machine::current().config().user;
    return Token { u.sid, u.groups, u.admin };
}

AsSystem::AsSystem() { ++systemDepth; }
AsSystem::~AsSystem() { --systemDepth; }
bool AsSystem::active() { return systemDepth > 0; }

}
