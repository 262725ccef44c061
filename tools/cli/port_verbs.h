// The port verbs that nvspool and nvport share, over the monitor's Xcv channel as a port user
// interface drives it: list, ports, add, config, show, status, delete, exists, test-page, export,
// import.
#pragma once

#include <string>
#include <vector>

#include "tools/cli/tool.h"

namespace cli {

// Runs the verb; -1 when `verb` is not one of them. A help option among the arguments prints
// the verb's own help instead.
int RunPortVerb(const Tool& tool, const std::string& verb, const std::vector<std::string>& args);

// The verbs' lines of the tool's help.
std::string PortVerbsHelp();

// A verb of a tool's own, beside these, as the help shows it.
struct VerbDoc {
    const char* name;
    const char* synopsis;  // what follows the verb
    const char* summary;   // one line
    const char* details;   // lines that end in '\n', or ""
};
// The verb of that name in the table, or null.
const VerbDoc* FindVerbDoc(const VerbDoc* docs, size_t count, const std::string& name);
// The verbs' lines of the tool's help.
std::string VerbDocsHelp(const VerbDoc* docs, size_t count);
// Whether a help option is among the arguments.
bool AsksForHelp(const Tool& tool, const std::vector<std::string>& args);

// A verb's own help: "Usage: TOOL VERB SYNOPSIS", the summary as a sentence, then the
// details (lines that end in '\n'); returns kExitOk.
int PrintVerbHelp(const Tool& tool, const std::string& verb, const char* synopsis,
                  const char* summary, const char* details);
// A verb's line of a tool's help: the synopsis, and the summary beside it (or below it when
// the synopsis is long).
std::string VerbHelpLine(const std::string& verb, const char* synopsis, const char* summary);

// Makes or rewrites, through the monitor, the port that the installer makes for a printer at
// the dotted address: "NORVA_<address>", raw TCP to port 9100 and the installer's SNMP values.
// Prints what it did and returns the exit code.
int RegisterPortThroughMonitor(const Tool& tool, const std::string& dotted);

}  // namespace cli
