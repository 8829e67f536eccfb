// Who may do what: every privilege of the table for every role, the roles'
// names, and the refusals people read.

#include "privileges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace tamrisk {
namespace {

// Whether each role may use each privilege, as the line decided it: a
// character a role from operator to supervisor, '+' may and '-' may not.
struct Allowed {
    Privilege privilege;
    const char* byRole;
};
constexpr Allowed AllowedByRole[] = {
    {Privilege::RunReleasedScript, "++++"}, {Privilege::SeeRecords, "++++"},    {Privilege::ExecuteCommand, "-+++"},
    {Privilege::ReadMemories, "-+++"},      {Privilege::Journal, "-+++"},       {Privilege::HoldUnits, "-+++"},
    {Privilege::EngineeringRun, "--++"},    {Privilege::ReleaseScript, "--++"}, {Privilege::ApproveRelease, "---+"},
    {Privilege::ManageOperators, "---+"},   {Privilege::ManageRoutes, "---+"},
};

TEST(Privileges, EachRowOfTheTableLetsItsRoleAndEveryGreaterOneAndNoLesser) {
    ASSERT_EQ(std::size(AllowedByRole), PrivilegeTable.size());
    for (const PrivilegeRow& row : PrivilegeTable) {
        const auto allowed = std::find_if(std::begin(AllowedByRole), std::end(AllowedByRole),
                                          [&](const Allowed& a) { return a.privilege == row.privilege; });
        ASSERT_NE(allowed, std::end(AllowedByRole)) << row.doing;
        const std::string byRole = allowed->byRole;
        EXPECT_EQ(LeastRole(row.privilege), AllRoles[byRole.find('+')]) << row.doing;
        for (std::size_t r = 0; r < AllRoles.size(); ++r) {
            SCOPED_TRACE(std::string(RoleName(AllRoles[r])) + " / " + std::string(row.doing));
            EXPECT_EQ(May(AllRoles[r], row.privilege), byRole[r] == '+');
        }
    }
}

TEST(Privileges, RolesAreNamedInLowerCaseAndOnlyTheirNamesParse) {
    const struct {
        const char* text;
        std::optional<Role> role;
    } cases[] = {
        {"operator", Role::Operator},     {"technician", Role::Technician}, {"engineer", Role::Engineer},
        {"supervisor", Role::Supervisor}, {"Supervisor", std::nullopt},     {"supervisors", std::nullopt},
        {" operator", std::nullopt},      {"admin", std::nullopt},          {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseRole(c.text), c.role) << c.text;
        if (c.role) {
            EXPECT_EQ(RoleName(*c.role), c.text);
        }
    }
}

TEST(Privileges, ARefusalSaysWhatThePersonMayNotDoAndWhoMay) {
    const struct {
        Role has;
        Privilege privilege;
        const char* text;
    } cases[] = {
        {Role::Technician, Privilege::ApproveRelease, "a technician may not approve releases: a supervisor may"},
        {Role::Operator, Privilege::ExecuteCommand, "an operator may not execute single commands: a technician may"},
        {Role::Operator, Privilege::HoldUnits, "an operator may not hold and release units: a technician may"},
        {Role::Technician, Privilege::EngineeringRun,
         "a technician may not load, edit and run any script and variables file: an engineer may"},
        {Role::Engineer, Privilege::ManageOperators, "an engineer may not manage operators: a supervisor may"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefusalText(c.has, c.privilege), c.text);
}

}  // namespace
}  // namespace tamrisk
