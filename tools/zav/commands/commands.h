// The zav commands. Each takes the arguments after its own name and returns
// the process exit code (core/cli.h).
#ifndef ZAV_TOOL_COMMANDS_H
#define ZAV_TOOL_COMMANDS_H

namespace zavtool {

int runInfo(int argc, char **argv);
int runKeys(int argc, char **argv);
int runLookup(int argc, char **argv);
int runPage(int argc, char **argv);
int runToc(int argc, char **argv);
int runSubpage(int argc, char **argv);
int runSpell(int argc, char **argv);
int runCheck(int argc, char **argv);
int runBuild(int argc, char **argv);
int runImport(int argc, char **argv);
int runServe(int argc, char **argv);
int runExport(int argc, char **argv);
int runIndex(int argc, char **argv);
int runSearch(int argc, char **argv);

}  // namespace zavtool

#endif
