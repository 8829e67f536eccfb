#include "portaccess.h"

#include "portlist.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <vector>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamrisk {

namespace {

#ifdef Q_OS_UNIX
// Whether the user database puts the user running this process in `group`,
// as their primary group or as a supplementary one.
bool UserDatabaseHasMember(gid_t group) {
    const passwd* user = ::getpwuid(::getuid());
    if (user == nullptr)
        return false;
    if (user->pw_gid == group)
        return true;
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<std::size_t>(count));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Whether this process has `group`: groups added to a user take effect only
// in sessions started after it.
bool SessionHasGroup(gid_t group) {
    if (::getegid() == group)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, group) != groups.begin() + got;
}
#endif

}  // namespace

PortAccessFacts ReadPortAccessFacts(const std::string& path) {
    PortAccessFacts facts;
    facts.device = RealDevice(path);
#ifdef Q_OS_UNIX
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return facts;
    facts.mode = info.st_mode & 07777;
    const group* owner = ::getgrgid(info.st_gid);
    if (owner == nullptr || owner->gr_name == nullptr)
        return facts;
    facts.group = owner->gr_name;
    facts.memberOfGroup = UserDatabaseHasMember(info.st_gid);
    facts.groupActive = SessionHasGroup(info.st_gid);
#endif
    return facts;
}

std::string PortAccessAdvice(const PortAccessFacts& facts) {
    if (facts.group.empty())
        return "The group that owns " + facts.device +
               " could not be read: ask the administrator for read and write access to it.";
    const std::string owner = facts.device + " belongs to the group " + facts.group + ". ";
    if (!facts.memberOfGroup)
        return owner + "Add your user to it with\n    sudo usermod -aG " + facts.group +
               " $USER\nthen log out and log in again.";
    if (!facts.groupActive)
        return owner + "You are in it, but not in this session, which began before you were added: " +
               "log out and log in again.";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", facts.mode);
    return owner + "You are in it, and its permissions (" + mode +
           ") still give the group no read and write access: ask the administrator.";
}

std::string PortAccessAdvice(const std::string& path) { return PortAccessAdvice(ReadPortAccessFacts(path)); }

}  // namespace tamrisk
