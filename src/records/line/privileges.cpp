#include "privileges.h"

namespace tamrisk {

namespace {

// A privilege's row is found by its value: the table must keep the order of the enum.
constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < PrivilegeTable.size(); ++i) {
        if (static_cast<std::size_t>(PrivilegeTable[i].privilege) != i)
            return false;
    }
    return true;
}
static_assert(InEnumOrder(), "PrivilegeTable holds a row for each privilege in the order of Privilege");

const PrivilegeRow& RowOf(Privilege privilege) { return PrivilegeTable[static_cast<std::size_t>(privilege)]; }

// "a technician", "an engineer".
std::string WithArticle(Role role) {
    const std::string_view name = RoleName(role);
    const bool vowel = name.find_first_of("aeiou") == 0;
    return (vowel ? "an " : "a ") + std::string(name);
}

}  // namespace

bool May(Role role, Privilege privilege) { return role >= RowOf(privilege).least; }

Role LeastRole(Privilege privilege) { return RowOf(privilege).least; }

std::string_view RoleName(Role role) {
    switch (role) {
    case Role::Operator: return "operator";
    case Role::Technician: return "technician";
    case Role::Engineer: return "engineer";
    case Role::Supervisor: return "supervisor";
    }
    return "operator";
}

std::optional<Role> ParseRole(std::string_view name) {
    for (Role role : AllRoles) {
        if (RoleName(role) == name)
            return role;
    }
    return std::nullopt;
}

std::string LeastMayText(Privilege privilege) {
    const PrivilegeRow& row = RowOf(privilege);
    return WithArticle(row.least) + " may " + std::string(row.doing);
}

std::string RefusalText(Role has, Privilege privilege) {
    const PrivilegeRow& row = RowOf(privilege);
    return WithArticle(has) + " may not " + std::string(row.doing) + ": " + WithArticle(row.least) + " may";
}

}  // namespace tamrisk
