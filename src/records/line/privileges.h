#pragma once
// Who may do what on the line. People hold one of four roles, each allowed all
// that the one before it is; one table below says which role first may use
// each privilege, and every front end asks it (the station greys out, the CLI
// refuses) rather than deciding for itself. Pure: the standard library only.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tamrisk {

// In order: each role may do everything the one before it may.
enum class Role { Operator, Technician, Engineer, Supervisor };

enum class Privilege {
    RunReleasedScript,  // run the active release of a script
    SeeRecords,         // read records and units' histories
    ExecuteCommand,     // send a single command to a printer
    ReadMemories,       // read a printer's memories
    Journal,            // read and print a printer's journal
    HoldUnits,          // hold units and release them
    EngineeringRun,     // load, edit and run any script and variables file
    ReleaseScript,      // submit a script for release
    ApproveRelease,     // approve another person's release
    ManageOperators,    // add people, set their roles, names and PINs, disable them
    ManageRoutes,       // set and delete products' routes
};

// A privilege, the least role that has it, and what it lets a person do as
// text that follows "may" ("approve releases").
struct PrivilegeRow {
    Privilege privilege;
    Role least;
    std::string_view doing;
};

// The one place that says who may do what, a row a privilege in the order of Privilege.
inline constexpr std::array<PrivilegeRow, 11> PrivilegeTable = {{
    {Privilege::RunReleasedScript, Role::Operator, "run released scripts"},
    {Privilege::SeeRecords, Role::Operator, "see records and unit histories"},
    {Privilege::ExecuteCommand, Role::Technician, "execute single commands"},
    {Privilege::ReadMemories, Role::Technician, "read a printer's memories"},
    {Privilege::Journal, Role::Technician, "read and print the journal"},
    {Privilege::HoldUnits, Role::Technician, "hold and release units"},
    {Privilege::EngineeringRun, Role::Engineer, "load, edit and run any script and variables file"},
    {Privilege::ReleaseScript, Role::Engineer, "release scripts"},
    {Privilege::ApproveRelease, Role::Supervisor, "approve releases"},
    {Privilege::ManageOperators, Role::Supervisor, "manage operators"},
    {Privilege::ManageRoutes, Role::Supervisor, "manage routes"},
}};

inline constexpr std::array<Role, 4> AllRoles = {Role::Operator, Role::Technician, Role::Engineer, Role::Supervisor};

// Whether a person of `role` may use `privilege`.
bool May(Role role, Privilege privilege);
// The least role that may use `privilege`.
Role LeastRole(Privilege privilege);
// "operator", "technician", "engineer" or "supervisor".
std::string_view RoleName(Role role);
// The role `name` names (as RoleName writes it); none for any other text.
std::optional<Role> ParseRole(std::string_view name);
// Who first may use `privilege`, and what it lets them do:
// "a technician may execute single commands".
std::string LeastMayText(Privilege privilege);
// Why a person of `has` is refused `privilege`, and who may:
// "a technician may not approve releases: a supervisor may".
std::string RefusalText(Role has, Privilege privilege);

}  // namespace tamrisk
