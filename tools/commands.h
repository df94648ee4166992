// The tool's commands. Each takes the arguments after its name and returns
// the process exit status: 0 on success, 1 on failure (the HRESULT in hex and
// its name on standard error), 2 for a usage error.
#pragma once

int RunBoxesCommand(int argc, char** argv);
int RunSamplesCommand(int argc, char** argv);
int RunInfoCommand(int argc, char** argv);
int RunPlayCommand(int argc, char** argv);
int RunDumpCommand(int argc, char** argv);
int RunExtractCommand(int argc, char** argv);
int RunRegisterCommand(int argc, char** argv);
int RunUnregisterCommand(int argc, char** argv);
int RunRegistryCommand(int argc, char** argv);
