// isodmx extract: as play, writing each output pin's delivered bytes to
// DIR/outputNN.bin.
#include "commands.h"
#include "playback.h"

int RunExtractCommand(int argc, char** argv) { return RunPlayback(PlaybackCommand::kExtract, argc, argv); }
