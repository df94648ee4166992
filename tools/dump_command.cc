// isodmx dump: as play, with one row per delivered sample (stream and media
// times, marks, length, CRC-32 of the bytes).
#include "commands.h"
#include "playback.h"

int RunDumpCommand(int argc, char** argv) { return RunPlayback(PlaybackCommand::kDump, argc, argv); }
