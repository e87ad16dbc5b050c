#pragma once
// The first press of a run must sound as fast as any other first press, so
// the audio device is opened and the MIDI soundfont loaded before it comes:
// on a thread of its own, once the button window is on screen, so start-up
// does not wait for it. No media command is sent; a press that comes while
// it still runs waits for it, and a failure is left for the press to meet.
void warmUpSoundInBackground();
