#include "scriptsyntax.h"

namespace tamrisk {

namespace {

constexpr ResultColour Gray = ResultColour::Gray;
constexpr ResultColour Blue = ResultColour::Blue;

// Each form of line in blue, what it does in gray below it.
constexpr SyntaxHelpLine HelpLines[] = {
    {Gray, "  SCRIPT SYNTAX:\r\n"},
    {Blue, "@Text"},
    {Gray, "  Text - Script description (for which printer and what it does)."},
    {Gray, "  If line starts with '@' symbol, then text after it is displayed on"},
    {Gray, "lower pat of the program window"},
    {Gray, ""},
    {Blue, "Cmd,Data"},
    {Gray, "  Cmd  - Command number (an integer from 32 to 148)."},
    {Gray, "  Data - Command data (if no data, separator ',' is not needed)."},
    {Gray, ""},
    {Blue, "$"},
    {Gray, "  If line starts with '$' symbol, printer clock is adjusted using PC time."},
    {Gray, ""},
    {Blue, "#Cnt"},
    {Gray, "  Cnt  - Milliseconds count (an integer from 1 to 600000)."},
    {Gray, "  If line starts with '#' symbol, then the program waits the specified time."},
    {Gray, ""},
    {Blue, "*Cnt,Label"},
    {Gray, "  Cnt  - Repeat count (an integer from 1 to 10000)."},
    {Gray, "  Label - The lines until this mark are repeated (text up to 16 symbols)."},
    {Gray, "  If line starts with '*' symbol, then a part of the script is repeated <Cnt> times,"},
    {Gray, "Starting with next line. The label (with symbol ':' before it) must be"},
    {Gray, "after this command! Multiple and nested cycles allowed."},
    {Gray, ""},
    {Blue, ":Label"},
    {Gray, "  Label - The label, which ends the repeat cycle (text up to 16 symbols)."},
    {Gray, "  This label is part of a '*' command, positioned above in the script."},
    {Gray, ""},
    {Blue, "^Text"},
    {Gray, "  If line starts with '^' symbol, then the text after it is displayed as a message box"},
    {Gray, "and waits operators confirm."},
    {Gray, ""},
    {Blue, "+Inc1+Inc2+Inc3...;Cmd,Data"},
    {Gray, "  If line starts with '+' symbol, then it is possible to increment numeric parts of Data"},
    {Gray, "field using an integer step after successfull command execution. The fields"},
    {Gray, "Inc1, Inc2 ... (up to 5) are positive integers. The program searches Data for contnuous"},
    {Gray, "fields of digits and adds the corresponding increment for them. Can be used"},
    {Gray, "for example to increase serial number automatically."},
    {ResultColour::Purple, "  Example: +1;91,DT000100"},
    {Gray, "will increment ewery time the serial number with 1."},
    {Gray, "If some numeric field hasn't to be incremented, the corresponding Inc field must be 0."},
    {Gray, ""},
    {Blue, "?[Name:] Field Op Value [Unit]"},
    {Gray, "  If line starts with '?' symbol, the answer of the last command of the run is checked."},
    {Gray, "  Name  - The check's name, the text before ':' (without it: 'line N')."},
    {Gray, "  Field - '*' for the whole answer data, or N for its N-th field (fields separated by ','"},
    {Gray, "counted from 1). With 'hex:' before it (hex:*, hex:2) its hexadecimal text is decoded first."},
    {Gray, "  Op Value - '= Text', '!= Text': the field equals (differs from) the rest of the line;"},
    {Gray, "'~ Regex': the field contains a match of the regular expression (^ and $ anchor it);"},
    {Gray, "'< N', '<= N', '> N', '>= N', 'in Low..High': the field as a number (decimal or 0x hex)."},
    {Gray, "  Unit  - A word after a number (V, bytes), shown with the check."},
    {Gray, "  {Name} in Value, Low or High is replaced by a variable's value; {unit} is the unit under test."},
    {Gray, "Each check is written on a line starting with ?? , green when it holds, red when not."},
    {Gray, "In older scripts a line starting with '?' was a comment; now it is a check."},
    {ResultColour::Purple, "  Example: ?journal used: 3 in 0..2000000 bytes"},
    {Gray, ""},
    {Gray, "  If the syntax does not match the descriptions above, it will be printed in program"},
    {Gray, "window with '!!' in the beginning (Comment)."},
    {ResultColour::Black, ""},
};

}  // namespace

std::span<const SyntaxHelpLine> ScriptSyntaxHelp() { return HelpLines; }

}  // namespace tamrisk
