// The access token of the running code: the user at the keyboard, or the
// system while the simulator acts for the system itself (the SCM writing
// the service database, a driver writing its parameters).
#pragma once
#include <string>
#include <vector>

namespace ntsim {

struct Token {
    std::string user;                // SID string
    std::vector<std::string> groups; // SID strings, all enabled
    bool admin { false };

    bool holds(const std::string& sid) const;
    static Token system();
    // The token of this thread right now.
    static Token effective();
};

// While one lives, this thread acts as LocalSystem.
class AsSystem {
public:
    AsSystem();
    ~AsSystem();
    AsSystem(const AsSystem&) = delete;
    AsSystem& operator=(const AsSystem&) = delete;
    static bool active();
};

}
