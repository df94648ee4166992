// isodmx play: plays the input through the graph into one counting sink per
// output pin and prints what each pin delivered.
#include "commands.h"
#include "playback.h"

int RunPlayCommand(int argc, char** argv) { return RunPlayback(PlaybackCommand::kPlay, argc, argv); }
