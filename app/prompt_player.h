// The voice prompt player: plays one headerless G.711 A-law file (8000
// samples per second, mono) through the speaker and returns. The audio path
// (engine, output device 0, decoder channel 0, volume) is set up at the
// first prompt of the process; after each prompt the output is disabled,
// and each later prompt enables it again.
#pragma once

// 0 once the file has been played (also when set-up or sending reported
// errors); -1 when path is null or the file cannot be opened.
int play_prompt(const char *path);

// The volume call's result (0 or more) on success; -1, or the attribute
// call's error code, on failure.
int prompt_audio_setup();

// Sends one block to decoder channel 0 in pieces of at most 320 bytes,
// waiting for room in the playback ring. Always 0.
int AudioOutStart(const void *block, int length);

// The result of disabling the output when it is 0 or more, else -1.
int prompt_audio_stop();
