// What `play`, `dump` and `extract` share: the options, running the graph,
// and the play document (JSON or text) that all three print.
#pragma once

#include "graph_session.h"
#include "stream_sink.h"

enum class PlaybackCommand { kPlay, kDump, kExtract };

// Parses the command's arguments, plays the input through the graph and
// prints the report; returns the exit status.
int RunPlayback(PlaybackCommand command, int argc, char** argv);
