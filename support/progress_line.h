// The progress line: on a terminal, a run that lasts longer than a moment
// shows one line on standard error that it rewrites in place (the phase,
// the elements done of all, the percentage) and clears when it ends.  On a
// pipe or a file nothing is written, so protocols, logs and the output of
// scripts never see it.
//
// The element loops call progressLineTick() once per element: it counts
// down and only now and then looks at the clock, so its cost per element
// is a decrement and a compare.  What the line says is asked from the
// caller's describe function when the line is drawn.
#pragma once

#include <string>

// The text of the line at this moment, without a line end.
using ProgressDescribe = std::string (*)();

struct ProgressLineState {
  bool active = false;   // a terminal, between start and end
  bool shown = false;    // the line is on the screen now
  int fd = -1;
  long countdown = 0;    // ticks left before the clock is looked at
  long interval = 0;     // ticks between two looks at the clock
  double startedAt = 0.0;
  double delay = 0.0;    // seconds before the line first appears
  double lastLook = 0.0;
  double lastDrawn = 0.0;
  ProgressDescribe describe = nullptr;
};
ProgressLineState& progressLine();

// Starts the line for the run when `fd` is a terminal; it first appears
// after `delaySeconds`.  On any other file it stays off.
void progressLineStart(int fd, double delaySeconds, ProgressDescribe describe);
// One element more in a loop of the run.
void progressLineTick();
// Looks at the clock now: draws or redraws the line when it is due (the
// phase of the run has changed, say), and counts the ticks that follow
// from the short interval again, as the next loop may be slower.
void progressLineLook();
// Takes the line off the screen before other text goes to the terminal;
// the next look draws it again.
void progressLineHide();
// Clears the line and ends it for the run.
void progressLineEnd();
